#include "run/agent.h"

#include <chrono>

#include "run/form.h"
#include "scan/process_end.h"
#include "scan/scan_state.h"

namespace hostlore {

int RunAgent(ScanState& state, const PlatformFactory& make_platform) {
  try {
    FormLoad(state);
    Result<Platform> platform = make_platform();
    if (!platform.ok()) {
      FormFailurePath(state, platform.status().description(), kExitFailure);
    }
    state.platform = std::move(platform).value();
    state.platform.clock->Sleep(std::chrono::milliseconds(200));
    Timer1Timer(state);
  } catch (const ProcessEnd& end) {
    return end.exit_status;
  }
}

}  // namespace hostlore
