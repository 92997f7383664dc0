#include "scan/process_end.h"

#include "scan/scan_state.h"

namespace hostlore {

int ExitStatusOf(const ScanState& state) {
  return state.FailureReported ? kExitFailure : kExitNormal;
}

void EndProcess(const ScanState& state) { throw ProcessEnd{ExitStatusOf(state)}; }

}  // namespace hostlore
