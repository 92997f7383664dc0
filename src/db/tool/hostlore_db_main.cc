// hostlore-db: create or check the five tables on a database server, print
// a computer's stored inventory and history, and answer questions about the
// whole fleet.
//
//   hostlore-db init SERVER
//   hostlore-db check SERVER
//   hostlore-db show SERVER COMPUTER
//   hostlore-db list|stale|changes SERVER [options]
//   hostlore-db software SERVER TEXT [options]
//
// SERVER is written as in the agent's command line (sqlite:PATH,
// postgresql://HOST[:PORT]/DB, odbc:STRING, or a SQL Server name).
#include <ctime>
#include <iostream>
#include <string>

#include "db/connect.h"
#include "db/tool/fleet_commands.h"
#include "db/tool/schema_check.h"
#include "util/password_mask.h"

namespace {

int Usage(const std::string& reason) {
  if (!reason.empty()) std::cerr << "hostlore-db: " << reason << "\n";
  std::cerr << "usage: hostlore-db init SERVER | check SERVER | show SERVER COMPUTER\n"
               "       hostlore-db list SERVER | stale SERVER | changes SERVER | software SERVER TEXT\n"
               "         [--format text|csv|json] [--days N] [--index FILE]\n"
               "         changes: [--since DATE] [--computer NAME] [--kind KIND]; software: [--versions]\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace hostlore;
  if (argc < 3) return Usage("");
  const std::string command = argv[1];
  const std::string server = argv[2];
  if (IsFleetCommand(command)) {
    Result<FleetCommand> parsed = ParseFleetCommand(std::vector<std::string>(argv + 1, argv + argc));
    if (!parsed.ok()) return Usage(parsed.status().description());
    return RunFleetCommand(parsed.value(), std::time(nullptr), std::cout, std::cerr);
  }
  if ((command != "init" && command != "check") || argc != 3) return Usage("");

  Result<std::shared_ptr<EngineConnection>> engine = ConnectEngine(server);
  if (!engine.ok()) {
    std::cerr << "hostlore-db: cannot connect to " << MaskPasswords(server) << ": "
              << MaskPasswords(engine.status().description()) << "\n";
    return 1;
  }
  if (command == "init") {
    const Status done = InitSchema(*engine.value());
    if (!done.ok()) {
      std::cerr << "hostlore-db: " << done.description() << "\n";
      return 1;
    }
    std::cout << "The five tables are in place on " << engine.value()->traits().name << ".\n";
    return 0;
  }
  const std::vector<std::string> differences = CheckSchema(*engine.value());
  for (const std::string& line : differences) std::cout << line << "\n";
  std::cout << (differences.empty() ? "The database matches the layout.\n"
                                    : "The database does not match the layout.\n");
  return differences.empty() ? 0 : 1;
}
