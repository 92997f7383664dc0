#include "run/agent.h"

#include <chrono>
#include <optional>

#include "probe/registry_service.h"
#include "run/form.h"
#include "run/termination_watch.h"
#include "scan/process_end.h"
#include "scan/scan_state.h"

namespace hostlore {

int RunAgent(ScanState& state, const PlatformFactory& make_platform, bool watch_signals) {
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
  }
  // Every end the run reaches by itself puts the target back as it was.
  RestoreRemoteRegistry(state);
  if (exit_status == kExitNormal) exit_status = ExitStatusOf(state);
  return exit_status;
}

}  // namespace hostlore
