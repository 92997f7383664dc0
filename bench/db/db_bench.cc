// The database work of one agent run (the last-access record and the update
// run of a computer with 300 programs) on SQLite and on a throwaway
// PostgreSQL that syncs its log at every commit, as production servers do.
//
//   db_bench [COMPUTERS]      (default 20 computers, two runs each)
//
// Run one stores a new computer; run two, a day later, finds 20 software
// changes and a memory change. Per run it prints the wall time; the
// statements through the database seam (opens, row additions, single-column
// writes, transaction begins and commits); the round trips to the server (a
// relay in front of PostgreSQL counts the client's turns, connection set-up
// and statement preparation included); the commits of changes (a write
// outside a transaction commits by itself); and the syncs to disk (SQLite: fsyncs of
// the database and its log, counted by a VFS; PostgreSQL: syncs of its
// write-ahead log, from pg_stat_wal) with the writes behind them.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "db/connect.h"
#include "db/forwarding_database.h"
#include "db/postgres_server.h"
#include "db/schema_scripts.h"
#include "db/update_db.h"
#include "db/update_last_access.h"
#include "platform/network/tcp_relay.h"
#include "run/command_line.h"
#include "scan/process_end.h"
#include "scan/scan_state.h"
#include "sqlite_io_counter.h"
#include "support/free_port.h"

namespace hostlore {
namespace {

using SteadyClock = std::chrono::steady_clock;

struct Counters {
  long opens = 0;
  long adds = 0;
  long updates = 0;
  long transactions = 0;  // begins and commits
  long commits = 0;       // of changes: a write outside a transaction, or a commit
  bool in_transaction = false;
};

class CountingRecordSet final : public ForwardingRecordSet {
 public:
  CountingRecordSet(std::unique_ptr<RecordSet> target, Counters* counters)
      : ForwardingRecordSet(std::move(target)), counters_(counters) {}
  Status AddNew(int ordinal, const FieldValue& value) override {
    ++counters_->adds;
    counters_->commits += !counters_->in_transaction;
    return ForwardingRecordSet::AddNew(ordinal, value);
  }
  Status Update(int ordinal, const FieldValue& value) override {
    ++counters_->updates;
    counters_->commits += !counters_->in_transaction;
    return ForwardingRecordSet::Update(ordinal, value);
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
  Status BeginTransaction(std::string_view key) override {
    ++counters_->transactions;
    counters_->in_transaction = true;
    return target().BeginTransaction(key);
  }
  Status CommitTransaction() override {
    ++counters_->transactions;
    ++counters_->commits;
    counters_->in_transaction = false;
    return target().CommitTransaction();
  }
  void RollbackTransaction() override {
    counters_->in_transaction = false;
    target().RollbackTransaction();
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
  s.Drive('E') = {"E:", 100000, 5000.0 - run, "DATA", "NTFS", "E5"};
  s.SoftwareList = SoftwareList(run == 0 ? 0 : 20);
  for (int i = 0; i < 80; ++i) s.ServicesList += (i ? "^Service " : "Service ") + std::to_string(i);
}

// What the engine counts outside the seam, read before and after a phase.
struct EngineCounts {
  double round_trips = 0;
  double syncs = 0;
  double writes = 0;
};
using CountReader = std::function<EngineCounts()>;

void Bench(const std::string& engine, const std::string& server, int computers, const CountReader& read) {
  const std::time_t day = 1054210029;  // 2003/05/29 around noon
  for (int run = 0; run < 2; ++run) {
    Counters counters;
    const EngineCounts before = read();
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
      if (state.FailureReported) ++failures;
      state.Db = DatabaseState();  // disconnects: the run's end is part of its cost
      total += SteadyClock::now() - start;
    }
    const EngineCounts after = read();
    const double n = computers;
    const double ms = std::chrono::duration<double, std::milli>(total).count() / n;
    std::printf("%-10s run %d (%s): %7.2f ms/run  %6.1f statements/run (%5.1f opens, %4.1f adds, %6.1f "
                "single-column writes, %3.1f begin/commit)  %6.1f round trips/run  %5.1f commits/run  "
                "%5.1f syncs/run (%6.1f writes)  failures %d\n",
                engine.c_str(), run + 1, run == 0 ? "new computer " : "20 sw changes", ms,
                double(counters.opens + counters.adds + counters.updates + counters.transactions) / n,
                counters.opens / n, counters.adds / n, counters.updates / n, counters.transactions / n,
                (after.round_trips - before.round_trips) / n, counters.commits / n,
                (after.syncs - before.syncs) / n, (after.writes - before.writes) / n, failures);
  }
}

double Number(const std::string& text) { return text.empty() ? -1 : std::atof(text.c_str()); }

}  // namespace
}  // namespace hostlore

int main(int argc, char** argv) {
  using namespace hostlore;
  const int computers = argc > 1 ? std::atoi(argv[1]) : 20;

  bench::InstallSqliteIoCounter();
  const std::filesystem::path file = std::filesystem::temp_directory_path() / "hostlore-bench.db";
  std::filesystem::remove(file);
  // The file and its tables exist before the first run is counted.
  if (!ConnectDatabase("sqlite:" + file.string()).ok()) return 1;
  Bench("SQLite", "sqlite:" + file.string(), computers, [] {
    const bench::SqliteIo io = bench::SqliteIoSoFar();
    return EngineCounts{0, double(io.syncs), double(io.writes)};  // in-process: no round trips
  });
  for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(file.string() + suffix);

  std::string reason;
  std::unique_ptr<test::PostgresServer> server = test::PostgresServer::StartDurable(reason);
  if (server == nullptr) {
    std::printf("PostgreSQL skipped: %s\n", reason.c_str());
    return 0;
  }
  const std::string field = server->CreateDatabase();
  auto engine = ConnectEngine(field);
  if (!engine.ok() || !engine.value()->RunScript(std::string(SchemaScript(Engine::kPostgreSql))).ok()) {
    std::printf("PostgreSQL: could not create the tables\n");
    return 1;
  }
  engine = Status::Ok();  // disconnects
  const std::string database = field.substr(field.rfind('/') + 1);
  const int relay_port = test::FreeLoopbackPort();
  testing::TcpRelay relay(testing::ListenOn({127, 0, 0, 1}, static_cast<uint16_t>(relay_port)), {127, 0, 0, 1},
                          static_cast<uint16_t>(server->port()), std::chrono::microseconds(0));
  const std::string through_relay =
      "postgresql://postgres@127.0.0.1:" + std::to_string(relay_port) + "/" + database;
  Bench("PostgreSQL", through_relay, computers, [&] {
    // A backend reports its counts as it ends; give the last one time to.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    return EngineCounts{
        double(relay.client_turns()), Number(server->Query(database, "SELECT wal_sync FROM pg_stat_wal")),
        Number(server->Query(database, "SELECT wal_write FROM pg_stat_wal"))};
  });
  return 0;
}
