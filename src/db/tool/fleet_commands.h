// hostlore-db's questions about the whole fleet, and show:
//
//   list SERVER                  every computer with its summary
//   software SERVER TEXT         which computers have a program whose name holds TEXT
//                                (--versions: each program's versions and counts)
//   changes SERVER               the history records, newest first
//                                (--since DATE, --computer NAME, --kind KIND)
//   stale SERVER                 computers not reached for --days N (30) days
//   show SERVER COMPUTER         everything stored for one computer
//
// with --format text|csv|json, --days N (when a computer counts as stale,
// for every question) and --index FILE (where the fleet index is kept).
#pragma once

#include <ctime>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "db/change_kind.h"
#include "db/tool/answer_output.h"
#include "platform/status.h"

namespace hostlore {

inline constexpr int kDefaultStaleDays = 30;

struct FleetCommand {
  std::string command;  // list, software, changes, stale or show
  std::string server;
  std::string argument;  // software: the text; show: the computer
  AnswerFormat format = AnswerFormat::kText;
  std::string index_path;
  int stale_days = kDefaultStaleDays;
  std::optional<std::string> since;     // stored time
  std::optional<std::string> computer;
  std::optional<ChangeKind> kind;
  bool versions = false;
};

// True for the commands that ParseFleetCommand takes.
bool IsFleetCommand(const std::string& command);

// `args` are the command and what follows it. Failure: the description
// names the argument that cannot be used and why.
Result<FleetCommand> ParseFleetCommand(const std::vector<std::string>& args);

// Runs the command at `now`; answers go to `out`, notes and failures to
// `err`. The exit status: 0 answered, 1 failed (or show: no such computer).
int RunFleetCommand(const FleetCommand& command, std::time_t now, std::ostream& out, std::ostream& err);

}  // namespace hostlore
