#include "fleet/fleet_options.h"

#include <charconv>

#include "fleet/summary.h"
#include "util/password_mask.h"

namespace hostlore::fleet {
namespace {

Status UsageError(const std::string& message) {
  return Status::Failure(win32::kInvalidParameter, message);
}

bool ParseInt(const std::string& text, long min, long max, long& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size() && value >= min &&
         value <= max;
}

// "--name=value" or "--name value"; `i` moves past what was used.
std::optional<std::string> OptionValue(const std::vector<std::string>& args, size_t& i,
                                       const std::string& name, Status& error) {
  const std::string& arg = args[i];
  if (arg.starts_with(name + "=")) return arg.substr(name.size() + 1);
  if (arg != name) return std::nullopt;
  if (i + 1 >= args.size()) {
    error = UsageError(name + " needs a value");
    return std::nullopt;
  }
  return args[++i];
}

}  // namespace

std::string FleetUsage() {
  return "Usage: hostlore-fleet [options] SERVER TARGET...\n"
         "  or:  hostlore-fleet [options] --retry REPORT.json SERVER [TARGET...]\n"
         "Runs the agent hostlore once per target, several at once, and stores each\n"
         "target's inventory on SERVER (sqlite:PATH, postgresql://HOST[:PORT]/DB,\n"
         "odbc:CONNECTION-STRING, or a SQL Server name).\n"
         "\n"
         "TARGET: a host name, a dotted IPv4 address, a range like 192.0.2.0/24 (at most\n"
         "65536 addresses), or @FILE with one target per line (# starts a comment).\n"
         "\n"
         "Options:\n"
         "  -j, --jobs N        agents running at once (default " + std::to_string(kDefaultJobs) + ", at most " +
         std::to_string(kMaxJobs) + ")\n"
         "  -t, --timeout S     end an agent that runs longer than S seconds (default " +
         std::to_string(kDefaultTimeoutSeconds) + "; 0: never)\n"
         "  -u, --user-only     refresh only the logged-on user and the time of contact\n"
         "      --rate N        echoes a second that the runner sends (default " + std::to_string(kDefaultRate) +
         ", at most " + std::to_string(kMaxRate) + ")\n"
         "      --agent-per-target\n"
         "                      start an agent for every target and leave the echo to it\n"
         "      --shard K/N     take every N-th target from position K (0 <= K < N)\n"
         "      --report FILE   write a per-target report, FILE.json or FILE.csv\n"
         "      --retry FILE    run again the targets of the JSON report FILE that were not\n"
         "                      started, interrupted, timed out, failed or crashed\n"
         "      --agent PATH    the agent program (default: hostlore next to this program)\n"
         "      --plain         one line per finished target even on a terminal\n"
         "      --live          the live view (needs a terminal)\n"
         "  -h, --help          show this text\n"
         "      --version       show the version\n"
         "\n"
         "Before the first agent starts, the server field, the targets, the agent, the\n"
         "report's folder, the lab and one database connection are checked.\n"
         "\n"
         "Exit status: 0 when every target answering the echo was stored, 1 otherwise,\n"
         "2 for a command line, target list, report path or database that cannot be\n"
         "used (nothing was started then).\n";
}

Result<FleetOptions> ParseFleetOptions(const std::vector<std::string>& args,
                                       const std::string& default_agent) {
  FleetOptions options;
  options.runner.agent_path = default_agent;
  options.runner.jobs = kDefaultJobs;
  options.runner.timeout = std::chrono::seconds(kDefaultTimeoutSeconds);
  options.runner.rate = kDefaultRate;
  std::vector<std::string> positional;
  bool options_end = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    Status error;
    if (options_end || arg == "-" || !arg.starts_with('-')) {
      positional.push_back(arg);
    } else if (arg == "--") {
      options_end = true;
    } else if (arg == "-h" || arg == "--help") {
      options.help = true;
    } else if (arg == "-u" || arg == "--user-only") {
      options.runner.user_only = true;
    } else if (arg == "--agent-per-target") {
      options.runner.agent_per_target = true;
    } else if (arg == "--plain") {
      options.view = ViewChoice::kPlain;
    } else if (arg == "--live") {
      options.view = ViewChoice::kLive;
    } else if (auto jobs = OptionValue(args, i, arg.starts_with("--") ? "--jobs" : "-j", error)) {
      long value = 0;
      if (!ParseInt(*jobs, 1, kMaxJobs, value)) {
        return UsageError("--jobs \"" + *jobs + "\" must be a whole number from 1 to " + std::to_string(kMaxJobs));
      }
      options.runner.jobs = static_cast<int>(value);
    } else if (auto timeout = OptionValue(args, i, arg.starts_with("--") ? "--timeout" : "-t", error)) {
      long value = 0;
      if (!ParseInt(*timeout, 0, 7 * 24 * 3600, value)) {
        return UsageError("--timeout \"" + *timeout + "\" must be a whole number of seconds (0: never)");
      }
      options.runner.timeout = std::chrono::seconds(value);
    } else if (auto rate = OptionValue(args, i, "--rate", error)) {
      long value = 0;
      if (!ParseInt(*rate, 1, kMaxRate, value)) {
        return UsageError("--rate \"" + *rate + "\" must be a whole number of echoes a second from 1 to " +
                          std::to_string(kMaxRate));
      }
      options.runner.rate = static_cast<int>(value);
    } else if (auto shard = OptionValue(args, i, "--shard", error)) {
      Result<Shard> parsed = ParseShard(*shard);
      if (!parsed.ok()) return parsed.status();
      options.shard = parsed.value();
    } else if (auto report = OptionValue(args, i, "--report", error)) {
      if (!ReportFormatKnown(*report)) {
        return UsageError("--report \"" + *report + "\" must end in .json or .csv");
      }
      options.report_path = *report;
    } else if (auto retry = OptionValue(args, i, "--retry", error)) {
      if (!retry->ends_with(".json")) {
        return UsageError("--retry \"" + *retry + "\" must be a report written with --report FILE.json");
      }
      options.retry_path = *retry;
    } else if (auto agent = OptionValue(args, i, "--agent", error)) {
      options.runner.agent_path = *agent;
    } else if (!error.ok()) {
      return error;
    } else {
      return UsageError("unknown option \"" + arg + "\" (see --help)");
    }
    if (!error.ok()) return error;
  }
  if (options.help) return options;
  if (positional.size() < (options.retry_path.empty() ? 2u : 1u)) {
    return UsageError("give the database server and at least one target (see --help)");
  }
  options.runner.server = positional.front();
  // Every agent's command line holds the server field, and any user of the
  // host can read those (ps): a password must come from elsewhere.
  if (HoldsPassword(options.runner.server)) {
    return UsageError("the server \"" + MaskPasswords(options.runner.server) +
                      "\" holds a password, which every agent's command line would show to anyone on this "
                      "host (ps); keep it in PostgreSQL's password file (~/.pgpass, or PGPASSFILE), in an "
                      "ODBC data source (odbc:DSN=NAME, password in odbc.ini), or log in with Kerberos");
  }
  if (options.runner.server.find(',') != std::string::npos) {
    return UsageError("the server \"" + options.runner.server + "\" may not contain a comma");
  }
  options.target_arguments.assign(positional.begin() + 1, positional.end());
  return options;
}

}  // namespace hostlore::fleet
