#include "run/scan.h"

#include <exception>
#include <stdexcept>

#include "collect/software_inventory.h"
#include "collect/wmi_inventory.h"
#include "db/update_db.h"
#include "db/update_last_access.h"
#include "diag/report_progress.h"
#include "probe/check_access.h"
#include "probe/ping.h"
#include "run/form.h"
#include "scan/process_end.h"
#include "scan/scan_state.h"

namespace hostlore {

void Scan(ScanState& state) {
  state.ProcName = "Hostlore.Scan";
  state.ErrorContext = state.TargetName;
  try {
    state.PingOk = false;
    ReportStep(state, "2");
    Ping(state);
    ReportStep(state, "4");
    UpdateLastAccess(state);
    if (!state.PingOk) {
      ReportStep(state, "Complete");
      EndProcess(state);
    }
    CheckAccess(state);
    GetWMI(state);
    if (!state.UserOnly) {
      GetSoftware(state);
      ReportStep(state, "90");
    }
    ReportStep(state, "100");
    // A target lost mid-run read as empty from then on: stored, that would
    // clear fields and record removals that never happened.
    if (Status lost = state.platform.registry->ConnectionLost(state.TargetAddress); !lost.ok()) {
      throw std::runtime_error("connection lost during the scan, nothing stored: " +
                               lost.description());
    }
    UpdateDB(state);
    ReportStep(state, "Complete");
    EndProcess(state);
  } catch (const std::exception& failure) {
    FormFailurePath(state, failure.what(), kExitFailure);
  }
}

}  // namespace hostlore
