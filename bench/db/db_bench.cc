// The update run of one computer with 300 programs, on SQLite and on a
// throwaway PostgreSQL: wall time per run and statements per run.
//
//   db_bench [COMPUTERS]      (default 20 computers, two runs each)
//
// Run one stores a new computer; run two, a day later, finds 20 software
// changes and a memory change. Every statement is one Open, AddNew or Update
// of the database seam, so the counts are round trips.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "db/connect.h"
#include "db/forwarding_database.h"
#include "db/postgres_server.h"
#include "db/schema_scripts.h"
#include "db/update_db.h"
#include "db/update_last_access.h"
#include "run/command_line.h"
#include "scan/process_end.h"
#include "scan/scan_state.h"

namespace hostlore {
namespace {

using SteadyClock = std::chrono::steady_clock;

struct Counters {
  long opens = 0;
  long adds = 0;
  long updates = 0;
  SteadyClock::duration update_time{};
};

class CountingRecordSet final : public ForwardingRecordSet {
 public:
  CountingRecordSet(std::unique_ptr<RecordSet> target, Counters* counters)
      : ForwardingRecordSet(std::move(target)), counters_(counters) {}
  Status AddNew(int ordinal, const FieldValue& value) override {
    ++counters_->adds;
    return ForwardingRecordSet::AddNew(ordinal, value);
  }
  Status Update(int ordinal, const FieldValue& value) override {
    ++counters_->updates;
    const auto start = SteadyClock::now();
    Status status = ForwardingRecordSet::Update(ordinal, value);
    counters_->update_time += SteadyClock::now() - start;
    return status;
  }

 private:
  Counters* counters_;
};

class CountingDatabase final : public ForwardingDatabase {
 public:
  CountingDatabase(std::unique_ptr<Database> target, Counters* counters)
      : ForwardingDatabase(std::move(target)), counters_(counters) {}
  Result<std::unique_ptr<RecordSet>> Open(const TableQuery& query) override {
    ++counters_->opens;
    Result<std::unique_ptr<RecordSet>> opened = target().Open(query);
    if (!opened.ok()) return opened;
    return std::unique_ptr<RecordSet>(std::make_unique<CountingRecordSet>(std::move(opened).value(), counters_));
  }

 private:
  Counters* counters_;
};

class BenchClock final : public Clock {
 public:
  explicit BenchClock(std::time_t now) : now_(now) {}
  std::time_t Now() override { return now_; }
  void Sleep(std::chrono::milliseconds) override {}

 private:
  std::time_t now_;
};

std::string SoftwareList(int changed) {
  std::string list;
  for (int i = 0; i < 300; ++i) {
    if (!list.empty()) list += "^";
    const int number = i < changed / 2 ? 1000 + i : i;  // renamed: removed + installed
    const std::string version = i >= 150 && i < 150 + changed / 2 ? "2.0" : "1.0";
    list += "Program " + std::to_string(number) + "\xC2\xA7" + version + "\xC2\xA7" +
            "C:\\Program Files\\P" + std::to_string(number) + "\xC2\xA7{GUID-" +
            std::to_string(number) + "}\xC2\xA7\xC2\xA7";
  }
  return list;
}

void Fill(ScanState& s, const std::string& name, int run) {
  s.TargetName = name;
  s.TargetAddress = "192.0.2.42";
  s.PingOk = true;
  s.LoggedOnUser = "CORP\\alice";
  s.Manufacturer = "Acme";
  s.Model = "Desk 9";
  s.Domain = "CORP";
  s.OperatingSystem = "Microsoft Windows XP Professional";
  s.ServicePack = "Service Pack 2";
  s.OSVersion = "5.1.2600";
  s.Processors[0] = {"Intel(R) Pentium(R) 4 CPU 2.80GHz", 2793};
  s.TotalPhysicalMemory = run == 0 ? 512 : 1024;
  s.FreePhysicalMemory = 200;
  s.BIOS = "Phoenix";
  s.Drive('C') = {"C:", 38154, 1250.5 - run, "SYSTEM", "NTFS", "A1B2C3D4"};
  s.Drive('D') = {"D:", 650, 0, "CD", "CDFS", ""};
  s.Drive('E') = {"E:", 100000, 5000 - run, "DATA", "NTFS", "E5"};
  s.SoftwareList = SoftwareList(run == 0 ? 0 : 20);
  for (int i = 0; i < 80; ++i) s.ServicesList += (i ? "^Service " : "Service ") + std::to_string(i);
}

void Bench(const std::string& engine, const std::string& server, int computers) {
  const std::time_t day = 1054210029;  // 2003/05/29 around noon
  for (int run = 0; run < 2; ++run) {
    Counters counters;
    SteadyClock::duration total{};
    int failures = 0;
    for (int c = 0; c < computers; ++c) {
      ScanState state;
      state.platform.clock = std::make_unique<BenchClock>(day + run * 86400);
      state.TempDir = std::filesystem::temp_directory_path().string();
      state.SqlServer = server;
      state.ConnectionString = BuildConnectionString(server);
      state.Db.Connector = [&counters](std::string_view field) -> Result<std::unique_ptr<Database>> {
        Result<std::unique_ptr<Database>> real = ConnectDatabase(field);
        if (!real.ok()) return real.status();
        return std::unique_ptr<Database>(std::make_unique<CountingDatabase>(std::move(real).value(), &counters));
      };
      Fill(state, "BENCH" + std::to_string(c), run);
      const auto start = SteadyClock::now();
      try {
        UpdateLastAccess(state);
        UpdateDB(state);
      } catch (const ProcessEnd&) {
        ++failures;
      }
      total += SteadyClock::now() - start;
      if (state.FailureReported) ++failures;
    }
    const double ms = std::chrono::duration<double, std::milli>(total).count() / computers;
    const double us_per_write =
        std::chrono::duration<double, std::micro>(counters.update_time).count() / std::max(1L, counters.updates);
    std::printf("%-10s run %d (%s): %7.2f ms/run  %6.1f statements/run (%5.1f opens, %4.1f adds, %6.1f "
                "single-column writes)  %6.1f us/write, 1 round trip each  failures %d\n",
                engine.c_str(), run + 1, run == 0 ? "new computer " : "20 sw changes",
                ms, double(counters.opens + counters.adds + counters.updates) / computers,
                double(counters.opens) / computers, double(counters.adds) / computers,
                double(counters.updates) / computers, us_per_write, failures);
  }
}

}  // namespace
}  // namespace hostlore

int main(int argc, char** argv) {
  const int computers = argc > 1 ? std::atoi(argv[1]) : 20;
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "hostlore-bench.db";
  std::filesystem::remove(file);
  hostlore::Bench("SQLite", "sqlite:" + file.string(), computers);
  std::filesystem::remove(file);
  std::filesystem::remove(file.string() + "-wal");
  std::filesystem::remove(file.string() + "-shm");

  hostlore::test::PostgresServer* server = hostlore::test::PostgresServer::Shared();
  if (server == nullptr) {
    std::printf("PostgreSQL skipped: %s\n", hostlore::test::PostgresServer::SkipReason().c_str());
    return 0;
  }
  const std::string field = server->CreateDatabase();
  auto engine = hostlore::ConnectEngine(field);
  if (!engine.ok() ||
      !engine.value()->RunScript(std::string(hostlore::SchemaScript(hostlore::Engine::kPostgreSql))).ok()) {
    std::printf("PostgreSQL: could not create the tables\n");
    return 1;
  }
  hostlore::Bench("PostgreSQL", field, computers);
  return 0;
}
