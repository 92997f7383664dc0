#include "run/agent.h"

#include <chrono>
#include <cstdio>
#include <optional>

#include "diag/log_error.h"
#include "probe/registry_service.h"
#include "run/agent_usage.h"
#include "run/form.h"
#include "run/termination_watch.h"
#include "scan/process_end.h"
#include "scan/scan_state.h"
#include "util/standard_options.h"

namespace hostlore {

int RunAgent(ScanState& state, const PlatformFactory& make_platform, bool watch_signals) {
  // Exactly these texts: any other command line is read as the five fields.
  if (state.CommandLine == "--help" || state.CommandLine == "--version") {
    return *AnswerHelpOrVersion({state.CommandLine}, "hostlore", AgentHelp());
  }
  std::optional<TerminationWatch> watch;
  int exit_status = kExitNormal;
  try {
    FormLoad(state);
    Result<Platform> platform = make_platform();
    if (!platform.ok()) {
      FormFailurePath(state, platform.status().description(), kExitFailure);
    }
    state.platform = std::move(platform).value();
    if (watch_signals) watch.emplace(state);
    state.platform.clock->Sleep(std::chrono::milliseconds(200));
    Timer1Timer(state);
  } catch (const ProcessEnd& end) {
    exit_status = end.exit_status;
    if (exit_status == kExitCommandLine) {
      // The log line holds the reason; a person at a terminal looks here.
      std::fputs(AgentUsageLine(LogFilePath(state)).c_str(), stderr);
    }
  }
  // Every end the run reaches by itself puts the target back as it was.
  RestoreRemoteRegistry(state);
  if (exit_status == kExitNormal) exit_status = ExitStatusOf(state);
  return exit_status;
}

}  // namespace hostlore
