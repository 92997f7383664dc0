#include "db/tool/fleet_commands.h"

#include <charconv>

#include "db/cached_record_set.h"
#include "db/change_list.h"
#include "db/computer_list.h"
#include "db/computer_record.h"
#include "db/fleet_index_refresh.h"
#include "db/fleet_source.h"
#include "db/query_time.h"
#include "db/software_search.h"
#include "db/tool/show_computer.h"
#include "util/escape.h"
#include "util/password_mask.h"

namespace hostlore {
namespace {

// Refreshes that read more computers than this say so on the way.
constexpr size_t kQuietRefresh = 500;

std::optional<int> ParseDays(const std::string& text) {
  int days = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), days);
  if (error != std::errc() || end != text.data() + text.size() || days < 0 || days > 36500) return std::nullopt;
  return days;
}

int ShowComputer(FleetSource& source, const std::string& name, std::ostream& out, std::ostream& err) {
  Result<std::vector<std::string>> names = ResolveComputerName(*source.reader, name);
  if (!names.ok()) {
    err << "hostlore-db: " << Escape(names.status().description(), EscapeFor::kTerminal) << "\n";
    return 1;
  }
  if (names->empty()) {
    err << "hostlore-db: no computer named " << Escape(name, EscapeFor::kTerminal) << "\n";
    return 1;
  }
  if (names->size() > 1) {
    err << "hostlore-db: " << Escape(name, EscapeFor::kTerminal) << " names several computers:";
    for (const std::string& each : names.value()) err << " " << Escape(each, EscapeFor::kTerminal);
    err << "\n";
    return 1;
  }
  std::unique_ptr<Database> database = NewEngineDatabase(source.reader->shared_connection());
  Result<ComputerRecord> record = ReadComputerRecord(*database, *source.reader, names->front());
  if (!record.ok()) {
    err << "hostlore-db: " << Escape(record.status().description(), EscapeFor::kTerminal) << "\n";
    return 1;
  }
  PrintComputerRecord(record.value(), out);
  return 0;
}

// The stream of rows that answers `command`, every row at once.
AnswerStream Answer(const FleetCommand& command, IndexDb& index, const StaleRule& stale) {
  const QueryPage all{0, -1, false};
  if (command.command == "software" && command.versions) {
    return [&, all](const AnswerChunks& chunks) {
      return StreamAnswer<ProgramSummary>(
          [&](const auto& each) { return SearchPrograms(index, command.argument, all, each).status(); },
          ProgramTable, chunks);
    };
  }
  if (command.command == "software") {
    return [&, all](const AnswerChunks& chunks) {
      return StreamAnswer<InstallationRow>(
          [&](const auto& each) {
            return ListInstallations(index, {command.argument, {}, {}}, stale, all, each).status();
          },
          InstallationTable, chunks);
    };
  }
  if (command.command == "changes") {
    return [&, all](const AnswerChunks& chunks) {
      const ChangeFilter filter{command.since, command.kind, command.computer};
      return StreamAnswer<ChangeRow>(
          [&](const auto& each) { return ListChanges(index, filter, stale, all, each).status(); }, ChangeTable,
          chunks);
    };
  }
  ComputerFilter filter;
  if (command.command == "stale") {
    filter.stale = true;
    filter.sort = ComputerSort::kLastContact;
  }
  return [&, all, filter](const AnswerChunks& chunks) {
    return StreamAnswer<ComputerRow>(
        [&](const auto& each) { return ListComputers(index, filter, stale, all, each).status(); }, ComputerTable,
        chunks);
  };
}

}  // namespace

bool IsFleetCommand(const std::string& command) {
  return command == "list" || command == "software" || command == "changes" || command == "stale" ||
         command == "show";
}

Result<FleetCommand> ParseFleetCommand(const std::vector<std::string>& args) {
  FleetCommand command;
  std::vector<std::string> positional;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!arg.starts_with("--")) {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--versions") {
      command.versions = true;
      continue;
    }
    if (i + 1 >= args.size()) return Status::Failure(2, arg + " needs a value");
    const std::string& value = args[++i];
    if (arg == "--format") {
      std::optional<AnswerFormat> format = AnswerFormatFromName(value);
      if (!format) return Status::Failure(2, "--format takes text, csv or json, not " + value);
      command.format = *format;
    } else if (arg == "--index") {
      command.index_path = value;
    } else if (arg == "--days") {
      std::optional<int> days = ParseDays(value);
      if (!days) return Status::Failure(2, "--days takes a number of days from 0 to 36500, not " + value);
      command.stale_days = *days;
    } else if (arg == "--since") {
      command.since = ParseQueryTime(value);
      if (!command.since) return Status::Failure(2, "--since takes a date such as 2024-05-01, not " + value);
    } else if (arg == "--computer") {
      command.computer = value;
    } else if (arg == "--kind") {
      command.kind = ChangeKindFromName(value);
      if (!command.kind) {
        return Status::Failure(2, "--kind takes new, hardware, drive, installed, removed, software or other, not " +
                                      value);
      }
    } else {
      return Status::Failure(2, "unknown option " + arg);
    }
  }
  if (positional.empty() || !IsFleetCommand(positional[0])) return Status::Failure(2, "unknown command");
  command.command = positional[0];
  const size_t wanted = command.command == "software" || command.command == "show" ? 3 : 2;
  if (positional.size() != wanted) return Status::Failure(2, "wrong number of arguments for " + command.command);
  command.server = positional[1];
  if (wanted == 3) command.argument = positional[2];
  return command;
}

int RunFleetCommand(const FleetCommand& command, std::time_t now, std::ostream& out, std::ostream& err) {
  Result<FleetSource> source = OpenFleetSource(command.server, command.index_path, ":memory:", err);
  if (!source.ok()) {
    err << "hostlore-db: cannot read " << Escape(MaskPasswords(command.server), EscapeFor::kTerminal) << ": "
        << Escape(MaskPasswords(source.status().description()), EscapeFor::kTerminal) << "\n";
    return 1;
  }
  if (command.command == "show") return ShowComputer(source.value(), command.argument, out, err);

  size_t shown = 0;
  Result<RefreshReport> refreshed = RefreshFleetIndex(
      *source->index, *source->reader, now, [&](size_t done, size_t total) {
        if (total > kQuietRefresh && (done * 10 / total > shown || done == total)) {
          shown = done * 10 / total;
          err << "hostlore-db: indexing the fleet: " << done << " of " << total << " computers read\n";
        }
      });
  if (!refreshed.ok()) {
    err << "hostlore-db: cannot index the fleet: " << Escape(refreshed.status().description(), EscapeFor::kTerminal)
        << "\n";
    return 1;
  }
  // A long answer (every installation of a common program, a week of the
  // fleet's changes) reads much of the index.
  source->index->db().MapIntoMemory();
  const StaleRule stale{StoredTimeDaysBefore(now, command.stale_days)};
  const Status answered = PrintAnswer(command.format, out, Answer(command, source->index->db(), stale));
  if (!answered.ok()) {
    err << "hostlore-db: " << Escape(answered.description(), EscapeFor::kTerminal) << "\n";
    return 1;
  }
  return 0;
}

}  // namespace hostlore
