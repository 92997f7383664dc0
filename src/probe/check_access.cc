#include "probe/check_access.h"

#include "collect/reg_reader.h"
#include "diag/log_error.h"
#include "diag/report_progress.h"
#include "scan/process_end.h"
#include "scan/scan_state.h"

namespace hostlore {

void CheckAccess(ScanState& state) {
  const std::string version =
      ReadRegValue(state, state.TargetAddress, Hive::kLocalMachine,
                   "Software\\Microsoft\\Windows NT\\CurrentVersion", "currentversion",
                   state.RegValueType);
  if (!version.empty()) return;
  LogError(state, "Insufficient access or error accessing PC ", state.TargetName + ":");
  ReportFailureComplete(state);
  EndProcess(state);
}

}  // namespace hostlore
