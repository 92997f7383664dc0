#include "probe/check_access.h"

#include "collect/reg_reader.h"
#include "diag/log_error.h"
#include "diag/report_progress.h"
#include "probe/registry_service.h"
#include "scan/process_end.h"
#include "scan/scan_state.h"

namespace hostlore {

void CheckAccess(ScanState& state) {
  // From here on a stopped RemoteRegistry service is started when needed.
  StartRegistryServiceWhenNeeded(state);
  Status why_not;
  const std::string version =
      ReadRegValue(state, state.TargetAddress, Hive::kLocalMachine,
                   "Software\\Microsoft\\Windows NT\\CurrentVersion", "currentversion",
                   state.RegValueType, &why_not);
  if (!version.empty()) return;
  // The reason follows the target's name, so that a refusal can be told
  // from an unreachable service or a missing value.
  LogError(state, "Insufficient access or error accessing PC ",
           state.TargetName + ":" + why_not.description());
  ReportFailureComplete(state);
  EndProcess(state);
}

}  // namespace hostlore
