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
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "db/connect.h"
#include "db/tool/fleet_commands.h"
#include "db/tool/schema_check.h"
#include "util/password_mask.h"
#include "util/standard_options.h"

namespace {

constexpr char kUsage[] =
    "usage: hostlore-db init SERVER | check SERVER | show SERVER COMPUTER\n"
    "       hostlore-db list SERVER | stale SERVER | changes SERVER | software SERVER TEXT\n"
    "         [--format text|csv|json] [--days N] [--index FILE]\n"
    "         changes: [--since DATE] [--computer NAME] [--kind KIND]; software: [--versions]\n";

std::string Help() {
  return "Usage: hostlore-db COMMAND SERVER [ARGUMENT] [options]\n"
         "Creates or checks Hostlore's five tables on a database server, shows what is\n"
         "stored for a computer and answers questions about the whole fleet.\n"
         "\n"
         "Commands:\n"
         "  init SERVER           create the tables that are missing\n"
         "  check SERVER          compare the tables with the layout Hostlore writes\n"
         "  show SERVER COMPUTER  print a computer's inventory and its histories\n"
         "  list SERVER           every computer with its summary\n"
         "  stale SERVER          computers not reached for --days N days\n"
         "  changes SERVER        the history records, newest first\n"
         "  software SERVER TEXT  which computers have a program whose name holds TEXT\n"
         "\n"
         "SERVER: sqlite:PATH, postgresql://HOST[:PORT]/DB, odbc:CONNECTION-STRING, or a\n"
         "SQL Server name (database BrindleAsset, Kerberos login).\n"
         "\n"
         "Options:\n"
         "  --format FORMAT       text, csv or json (default text)\n"
         "  --days N              a computer not reached for N days is stale (default " +
         std::to_string(hostlore::kDefaultStaleDays) +
         ")\n"
         "  --index FILE          where the fleet index is kept\n"
         "  --since DATE          changes: only records from DATE on\n"
         "  --computer NAME       changes: only this computer's records\n"
         "  --kind KIND           changes: only records of this kind\n"
         "  --versions            software: each program's versions and counts\n"
         "  -h, --help            show this text\n"
         "      --version         show the version\n"
         "\n"
         "Exit status: 0 done (check: the tables match), 1 a failure, a difference or\n"
         "no such computer, 2 a command line that cannot be used.\n";
}

// Nothing is opened, so a mistyped command creates no database.
int Usage(const std::string& reason) {
  if (!reason.empty()) std::cerr << "hostlore-db: " << reason << "\n";
  std::cerr << kUsage;
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace hostlore;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (std::optional<int> answered = AnswerHelpOrVersion(arguments, "hostlore-db", Help())) {
    return *answered;
  }
  if (arguments.empty()) return Usage("give a command");
  const std::string& command = arguments[0];
  std::optional<FleetCommand> fleet_command;
  if (IsFleetCommand(command)) {
    Result<FleetCommand> parsed = ParseFleetCommand(arguments);
    if (!parsed.ok()) return Usage(parsed.status().description());
    fleet_command = parsed.value();
  } else if (command != "init" && command != "check") {
    return Usage("unknown command \"" + command + "\"");
  } else if (arguments.size() != 2) {
    return Usage(command + " takes SERVER");
  }
  const std::string server = fleet_command ? fleet_command->server : arguments[1];
  // Opening a SQLite file creates it: only init may do that, so a misspelt
  // path is named instead of answered from an empty file.
  const ConnectionTarget target = ParseServerField(server, "");
  std::error_code error;
  if (command != "init" && target.sqlite && !std::filesystem::exists(target.sqlite_path, error)) {
    std::cerr << "hostlore-db: " << target.sqlite_path << ": "
              << (error ? error.message() : "No such file") << " (hostlore-db init " << server
              << " creates it)\n";
    return 1;
  }
  if (fleet_command) return RunFleetCommand(*fleet_command, std::time(nullptr), std::cout, std::cerr);

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
