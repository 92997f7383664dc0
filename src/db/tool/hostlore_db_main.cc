// hostlore-db: create or check the five tables on a database server, and
// print a computer's stored inventory and history.
//
//   hostlore-db init SERVER
//   hostlore-db check SERVER
//   hostlore-db show SERVER COMPUTER
//
// SERVER is written as in the agent's command line (sqlite:PATH,
// postgresql://HOST[:PORT]/DB, odbc:STRING, or a SQL Server name).
#include <iostream>
#include <string>

#include "db/cached_record_set.h"
#include "db/connect.h"
#include "db/tool/schema_check.h"
#include "db/tool/show_computer.h"

namespace {

int Usage() {
  std::cerr << "usage: hostlore-db init SERVER | check SERVER | show SERVER COMPUTER\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace hostlore;
  if (argc < 3) return Usage();
  const std::string command = argv[1];
  const std::string server = argv[2];
  if ((command == "show") != (argc == 4) || (command != "show" && argc != 3)) return Usage();

  Result<std::shared_ptr<EngineConnection>> engine = ConnectEngine(server);
  if (!engine.ok()) {
    std::cerr << "hostlore-db: cannot connect to " << server << ": " << engine.status().description() << "\n";
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
  if (command == "check") {
    const std::vector<std::string> differences = CheckSchema(*engine.value());
    for (const std::string& line : differences) std::cout << line << "\n";
    std::cout << (differences.empty() ? "The database matches the layout.\n"
                                      : "The database does not match the layout.\n");
    return differences.empty() ? 0 : 1;
  }
  if (command == "show") {
    std::unique_ptr<Database> database = NewEngineDatabase(engine.value());
    const Status shown = ShowComputer(*database, argv[3], std::cout);
    if (!shown.ok()) {
      std::cerr << "hostlore-db: " << shown.description() << "\n";
      return 1;
    }
    return 0;
  }
  return Usage();
}
