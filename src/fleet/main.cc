// hostlore-fleet: runs the agent across a list of targets, several at once,
// with live progress on a terminal and a summary at the end.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "fleet/fleet_options.h"
#include "fleet/fleet_runner.h"
#include "fleet/fleet_view.h"
#include "fleet/lab_check.h"
#include "fleet/retry_list.h"
#include "fleet/server_field_check.h"
#include "fleet/summary.h"
#include "fleet/sweep_checks.h"
#include "fleet/target_list.h"
#include "util/standard_options.h"

namespace {

std::string AgentNextToSelf() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? "hostlore" : (self.parent_path() / "hostlore").string();
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "hostlore-fleet: %s\n", message.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace hostlore::fleet;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  if (std::optional<int> answered = hostlore::AnswerHelpOrVersion(arguments, "hostlore-fleet", FleetUsage())) {
    return *answered;
  }
  hostlore::Result<FleetOptions> options = ParseFleetOptions(arguments, AgentNextToSelf());
  if (!options.ok()) return Fail(options.status().description());
  // Everything that can be checked is checked before the first agent starts.
  if (hostlore::Status field = CheckServerField(options->runner.server); !field.ok()) {
    return Fail(field.description());
  }
  std::vector<std::string> target_arguments = options->target_arguments;
  if (!options->retry_path.empty()) {
    hostlore::Result<std::vector<std::string>> again = ReadRetryTargets(options->retry_path);
    if (!again.ok()) return Fail(again.status().description());
    target_arguments.insert(target_arguments.end(), again->begin(), again->end());
  }
  hostlore::Result<std::vector<std::string>> targets = ExpandTargets(target_arguments);
  if (!targets.ok()) return Fail(targets.status().description());
  if (targets->empty() && !options->retry_path.empty()) {
    std::printf("Nothing to run again: %s lists no target that was not started, interrupted, "
                "timed out, failed or crashed.\n", options->retry_path.c_str());
    return 0;
  }
  // Before the shards are cut, so that every scanner host drops the same.
  const size_t duplicates = DropDuplicateTargets(targets.value());
  if (options->shard) targets = SelectShard(targets.value(), *options->shard);
  if (::access(options->runner.agent_path.c_str(), X_OK) != 0) {
    return Fail("the agent " + options->runner.agent_path + " cannot be run (see --agent)");
  }
  if (!options->report_path.empty()) {
    if (hostlore::Status report = CheckReportPath(options->report_path); !report.ok()) {
      return Fail(report.description());
    }
  }
  // The echo sweep loads the lab itself (and so checks it).
  const char* lab = ::secure_getenv("HOSTLORE_LAB");
  if (lab != nullptr && options->runner.agent_per_target) {
    const hostlore::Status checked = CheckLab(lab);
    if (!checked.ok()) return Fail(checked.description());
  }
  // Last: a SQLite file that is missing is created here, as the first agent
  // would create it, and only once nothing else stands in the way.
  if (hostlore::Status database = CheckDatabase(options->runner.server); !database.ok()) {
    return Fail(database.description());
  }

  FleetState state(targets.value());
  state.duplicates = duplicates;
  std::unique_ptr<FleetView> view;
  if (options->view != ViewChoice::kPlain) view = NewLiveView();
  if (view == nullptr && options->view == ViewChoice::kLive) return Fail("--live needs a terminal");
  if (view == nullptr) view = NewPlainView();

  const hostlore::Status ran = RunFleet(options->runner, state, *view);
  view.reset();
  if (!ran.ok()) return Fail(ran.description());
  std::fputs(SummaryText(state).c_str(), stdout);
  if (!options->report_path.empty()) {
    const hostlore::Status written = WriteReport(state, options->report_path);
    if (!written.ok()) {
      std::fprintf(stderr, "hostlore-fleet: %s\n", written.description().c_str());
      return 1;
    }
  }
  return FleetExitStatus(state);
}
