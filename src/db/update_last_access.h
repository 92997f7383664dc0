// The last-access record: every run makes sure that the computer named on
// the command line has a LastAccess row, and stamps its AccessTime (ordinal
// 1) when the target answered the echo.
#pragma once

namespace hostlore {

struct ScanState;

// Runs right after the echo, under the command-line TargetName. On any
// database failure: logs "Error updating last access database" with
// TargetName + ":" + the description, sends "Complete" and ends the process.
void UpdateLastAccess(ScanState& state);

}  // namespace hostlore
