// The web view and hostlore-db's fleet questions over a generated fleet, on
// SQLite and on a throwaway PostgreSQL: the time each page takes the server
// (its Server-Timing), the time each hostlore-db question takes end to end,
// the server's peak memory, and what indexing costs.
//
//   web_bench [COMPUTERS [PROGRAMS [HISTORY]]] [--engines sqlite,postgresql]
//   web_bench --fill sqlite:PATH [COMPUTERS]     only writes a fleet (for screenshots)
//   web_bench --fill postgresql://postgres@127.0.0.1:PORT/DB [COMPUTERS]
//                                                 the same into an existing PostgreSQL
//                                                 database (for profiling one question)
#include <fcntl.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <httplib.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>

#include "db/connect.h"
#include "db/postgres_server.h"
#include "db/query_time.h"
#include "db/schema_scripts.h"
#include "fleet_generator.h"
#include "support/test_support.h"
#include "util/escape.h"
#include "web/browser_session.h"

extern char** environ;

namespace hostlore::bench {
namespace {

using SteadyClock = std::chrono::steady_clock;

double Milliseconds(SteadyClock::duration duration) { return std::chrono::duration<double, std::milli>(duration).count(); }

struct Stats {
  std::vector<double> samples;
  void Print(const std::string& name) const {
    std::vector<double> sorted = samples;
    std::sort(sorted.begin(), sorted.end());
    // Nearest rank: the smallest sample with at least `share` of them at or below it.
    const auto at = [&](double share) {
      const auto rank = static_cast<size_t>(std::ceil(share * static_cast<double>(sorted.size())));
      return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
    };
    std::printf("  %-44s %4zu %9.1f %9.1f %9.1f\n", name.c_str(), sorted.size(), at(0.5), at(0.95), sorted.back());
  }
};

// SQLite: one transaction of prepared inserts.
void FillSqlite(const std::string& path, const FleetShape& shape) {
  sqlite3* db = nullptr;
  sqlite3_open(path.c_str(), &db);
  sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr);
  std::map<std::string, sqlite3_stmt*> inserts;
  GenerateFleet(shape, [&](const std::string& table, const std::vector<FieldValue>& row) {
    sqlite3_stmt*& insert = inserts[table];
    if (insert == nullptr) {
      std::string sql = "INSERT INTO " + table + " VALUES (?";
      for (size_t i = 1; i < row.size(); ++i) sql += ", ?";
      sqlite3_prepare_v2(db, (sql + ")").c_str(), -1, &insert, nullptr);
    }
    for (size_t i = 0; i < row.size(); ++i) {
      const int n = static_cast<int>(i) + 1;
      if (row[i].is_text()) sqlite3_bind_text(insert, n, row[i].text().data(), static_cast<int>(row[i].text().size()), SQLITE_TRANSIENT);
      else if (row[i].is_double()) sqlite3_bind_double(insert, n, row[i].real());
      else if (row[i].is_integer()) sqlite3_bind_int64(insert, n, row[i].integer());
      else sqlite3_bind_null(insert, n);
    }
    sqlite3_step(insert);
    sqlite3_reset(insert);
  });
  for (auto& [table, insert] : inserts) sqlite3_finalize(insert);
  sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
  sqlite3_close(db);
}

// Runs `argv` to its end; the CPU time it took (user and system), in ms.
double RunToEnd(const std::vector<std::string>& argv, const std::string& output = "/dev/null") {
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  std::vector<char*> args;
  for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  if (posix_spawn(&pid, args[0], &actions, nullptr, args.data(), environ) != 0) return -1;
  posix_spawn_file_actions_destroy(&actions);
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  const auto ms = [](const timeval& time) { return time.tv_sec * 1000.0 + time.tv_usec / 1000.0; };
  return ms(usage.ru_utime) + ms(usage.ru_stime);
}

// PostgreSQL: every table as CSV, loaded with psql's \copy.
void FillPostgres(const std::string& field, int port, const std::filesystem::path& folder, const FleetShape& shape) {
  std::map<std::string, std::ofstream> files;
  GenerateFleet(shape, [&](const std::string& table, const std::vector<FieldValue>& row) {
    std::ofstream& file = files[table];
    if (!file.is_open()) file.open(folder / (table + ".csv"));
    for (size_t i = 0; i < row.size(); ++i) {
      if (i > 0) file << ',';
      if (row[i].is_text()) {
        std::string quoted = "\"";
        for (const char c : row[i].text()) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
        file << quoted << '"';
      } else if (!row[i].is_null()) {
        file << ValueAsText(row[i]).value();
      }
    }
    file << '\n';
  });
  const std::string database = field.substr(field.rfind('/') + 1);
  const auto psql = [&](const std::string& command) {
    RunToEnd({"/usr/lib/postgresql/15/bin/psql", "-h", "127.0.0.1", "-p", std::to_string(port), "-U", "postgres",
              "-d", database, "-q", "-c", command});
  };
  for (auto& [table, file] : files) {
    file.close();
    psql("\\copy " + table + " FROM '" + (folder / (table + ".csv")).string() + "' WITH (FORMAT csv)");
  }
  // The tables as the server's autovacuum leaves them, before anything is
  // measured: otherwise its first passes over the fresh rows run during
  // the measurements.
  psql("VACUUM ANALYZE");
}

long PeakKilobytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmHWM:")) return std::atol(line.c_str() + 6);
  }
  return -1;
}

double ServerMilliseconds(const httplib::Result& result) {
  const std::string timing = result->get_header_value("Server-Timing");
  const size_t at = timing.find("dur=");
  return at == std::string::npos ? -1 : std::atof(timing.c_str() + at + 4);
}

void Measure(const std::string& engine, const std::string& server, const std::filesystem::path& folder,
             const FleetShape& shape, const std::function<void(const std::string&)>& touch) {
  const std::string index = (folder / ("index-" + engine + ".sqlite")).string();
  const auto started = SteadyClock::now();
  test::ChildProcess web({HOSTLORE_WEB_PATH, server, "--listen", "127.0.0.1:0", "--index", index, "--refresh", "3600"}, true);
  const std::string serving = web.ReadLine(3600);
  std::printf("hostlore-web start-up with the first indexing: %.1f s; index %.0f MB\n",
              Milliseconds(SteadyClock::now() - started) / 1000, std::filesystem::file_size(index) / 1e6);
  const int port = std::atoi(serving.c_str() + serving.rfind(':') + 1);
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(120, 0);
  client.set_keep_alive(true);

  const std::string week = Escape(StoredTimeDaysBefore(shape.now, 7).substr(0, 10), EscapeFor::kUrlComponent);
  const std::string popular = Escape(PopularProgram(), EscapeFor::kUrlComponent);
  std::mt19937 random(7);
  const auto some_computer = [&] { return ComputerName(static_cast<int>(random() % static_cast<unsigned>(shape.computers))); };
  const std::vector<std::pair<std::string, std::function<std::string()>>> pages = {
      {"fleet /", [] { return "/"; }},
      {"computers, first page", [] { return "/computers"; }},
      {"computers by memory, page 37", [] { return "/computers?sort=-memory&page=37"; }},
      {"computers matching user7", [] { return "/computers?q=user7"; }},
      {"computers stale", [] { return "/computers?stale=yes&sort=last-contact"; }},
      {"computers JSON, 1000 rows", [] { return "/computers?format=json&per_page=1000"; }},
      {"computer (random)", [&] { return "/computer?name=" + some_computer(); }},
      {"software, all programs", [] { return "/software"; }},
      {"software search \"office\"", [] { return "/software?q=office"; }},
      {"software search \"e\" (most programs)", [] { return "/software?q=e"; }},
      {"software search, no match", [] { return "/software?q=zzzz"; }},
      {"computers with the commonest program", [&] { return "/software/computers?program=" + popular; }},
      {"changes, newest", [] { return "/changes"; }},
      {"changes since a week", [&] { return "/changes?since=" + week; }},
      {"changes, installed", [] { return "/changes?kind=installed"; }},
      {"changes of one computer", [&] { return "/changes?computer=" + some_computer(); }},
  };
  std::printf("  %-44s %4s %9s %9s %9s   (server side, ms)\n", "page", "n", "p50", "p95", "max");
  for (const auto& [name, url] : pages) {
    Stats stats;
    for (int i = 0; i < 20; ++i) {
      httplib::Result result = client.Get(url());
      if (!result || result->status != 200) {
        std::printf("  %s: failed\n", name.c_str());
        break;
      }
      stats.samples.push_back(ServerMilliseconds(result));
    }
    if (!stats.samples.empty()) stats.Print(name);
  }
  const auto csv_start = SteadyClock::now();
  httplib::Result csv = client.Get("/computers?format=csv");
  std::printf("  computers as CSV, all %d rows: %.0f ms end to end, %zu bytes\n", shape.computers,
              Milliseconds(SteadyClock::now() - csv_start), csv ? csv->body.size() : 0);
  std::printf("hostlore-web peak memory (VmHWM): %.1f MB\n", PeakKilobytes(web.pid()) / 1024.0);

  const std::string since = StoredTimeDaysBefore(shape.now, 7).substr(0, 10);
  const std::vector<std::pair<std::string, std::vector<std::string>>> questions = {
      {"list (every computer, text)", {"list", server}},
      {"stale --days 30", {"stale", server, "--days", "30"}},
      {"software office (most computers: ~200,000 lines)", {"software", server, "office"}},
      {"software \"sap gui 2003\" (a rare program)", {"software", server, "sap gui 2003"}},
      {"software office --versions --format json", {"software", server, "office", "--versions", "--format", "json"}},
      {"changes --since a week ago --format csv", {"changes", server, "--since", since, "--format", "csv"}},
      {"changes --computer (random)", {"changes", server, "--computer", some_computer()}},
      {"show (random)", {"show", server, some_computer()}},
  };
  std::printf("  %-44s %4s %9s %9s %9s   (end to end, ms; then CPU ms)\n", "hostlore-db", "n", "p50", "p95", "max");
  for (const auto& [name, args] : questions) {
    Stats stats, cpu;
    for (int i = 0; i < 20; ++i) {
      std::vector<std::string> argv{HOSTLORE_DB_TOOL_PATH};
      argv.insert(argv.end(), args.begin(), args.end());
      argv.insert(argv.end(), {"--index", index});
      if (args[0] == "show") argv.resize(argv.size() - 2);
      const auto start = SteadyClock::now();
      cpu.samples.push_back(RunToEnd(argv));
      stats.samples.push_back(Milliseconds(SteadyClock::now() - start));
    }
    stats.Print(name);
    cpu.Print("  CPU");
  }
  touch(server);
  const auto start = SteadyClock::now();
  const double cpu = RunToEnd({HOSTLORE_DB_TOOL_PATH, "stale", server, "--index", index});
  std::printf("  after 1 %% of the computers were stored again: refresh and stale in %.0f ms (CPU %.0f ms)\n",
              Milliseconds(SteadyClock::now() - start), cpu);
}

}  // namespace
}  // namespace hostlore::bench

int main(int argc, char** argv) {
  using namespace hostlore;
  setvbuf(stdout, nullptr, _IOLBF, 0);
  using namespace hostlore::bench;
  FleetShape shape;
  shape.now = std::time(nullptr);
  std::vector<std::string> engines = {"sqlite", "postgresql"};
  std::string fill;
  std::vector<int> numbers;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--engines" && i + 1 < argc) {
      const std::string list = argv[++i];
      engines.clear();
      if (list.find("sqlite") != std::string::npos) engines.push_back("sqlite");
      if (list.find("postgresql") != std::string::npos) engines.push_back("postgresql");
    } else if (arg == "--fill" && i + 1 < argc) {
      fill = argv[++i];
    } else {
      numbers.push_back(std::atoi(arg.c_str()));
    }
  }
  if (numbers.size() > 0) shape.computers = numbers[0];
  if (numbers.size() > 1) shape.programs = numbers[1];
  if (numbers.size() > 2) shape.history = numbers[2];
  if (!fill.empty()) {
    if (fill.starts_with("postgresql://")) {
      Result<std::shared_ptr<EngineConnection>> connection = ConnectEngine(fill);
      if (!connection.ok() || !connection.value()->RunScript(std::string(SchemaScript(Engine::kPostgreSql))).ok()) {
        return std::fprintf(stderr, "%s: cannot connect or create the tables\n", fill.c_str()), 2;
      }
      const size_t port_at = fill.rfind(':') + 1;
      test::TempFolder folder;
      FillPostgres(fill, std::atoi(fill.c_str() + port_at), folder.path(), shape);
      return 0;
    }
    if (!fill.starts_with("sqlite:") || !ConnectEngine(fill).ok()) {
      return std::fprintf(stderr, "--fill takes sqlite:PATH or postgresql://USER@HOST:PORT/DB\n"), 2;
    }
    FillSqlite(fill.substr(7), shape);
    return 0;
  }
  test::TempFolder folder;
  std::printf("fleet: %d computers, %d programs and %d history records each\n", shape.computers, shape.programs, shape.history);
  for (const std::string& engine : engines) {
    const auto start = SteadyClock::now();
    std::string server;
    std::function<void(const std::string&)> touch;
    // One computer in a hundred stored again: a new time and one more record.
    const std::string touch_sql = "UPDATE Asset SET LastScanned = '2099/01/01 00:00:00', History = History || "
                                  "'2099/01/01 00:00:00~BIOS Version changed from 1 To 2^' WHERE Computer LIKE 'PC%00'";
    if (engine == "sqlite") {
      server = "sqlite:" + (folder.path() / "fleet.db").string();
      if (!ConnectEngine(server).ok()) return 1;
      FillSqlite(server.substr(7), shape);
      touch = [&](const std::string& field) {
        sqlite3* db = nullptr;
        sqlite3_open(field.substr(7).c_str(), &db);
        sqlite3_exec(db, touch_sql.c_str(), nullptr, nullptr, nullptr);
        sqlite3_close(db);
      };
    } else {
      test::PostgresServer* postgres = test::PostgresServer::Shared();
      if (postgres == nullptr) {
        std::printf("PostgreSQL skipped: %s\n", test::PostgresServer::SkipReason().c_str());
        continue;
      }
      server = postgres->CreateDatabase();
      Result<std::shared_ptr<EngineConnection>> connection = ConnectEngine(server);
      if (!connection.ok() || !connection.value()->RunScript(std::string(SchemaScript(Engine::kPostgreSql))).ok()) return 1;
      FillPostgres(server, postgres->port(), folder.path(), shape);
      touch = [&, port = postgres->port()](const std::string& field) {
        RunToEnd({"/usr/lib/postgresql/15/bin/psql", "-h", "127.0.0.1", "-p", std::to_string(port), "-U", "postgres",
                  "-d", field.substr(field.rfind('/') + 1), "-q", "-c", touch_sql});
      };
    }
    std::printf("\n== %s: filled in %.1f s\n", engine.c_str(), Milliseconds(SteadyClock::now() - start) / 1000);
    Measure(engine, server, folder.path(), shape, touch);
  }
  std::ifstream load("/proc/loadavg");
  std::string loadavg;
  std::getline(load, loadavg);
  std::printf("\nload average at the end: %s\n", loadavg.c_str());
  return 0;
}
