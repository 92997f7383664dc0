// The update run: stores one run's inventory in the Asset, Software and
// Services rows of TargetName, with its change history and drive history.
#pragma once

namespace hostlore {

struct ScanState;

// Makes sure the three rows exist, records the changes, writes every
// unpinned Asset column by position, the drive histories and the software
// and services lists; a user-only run writes only the time and the user.
// All of it is one transaction, serialized with other update runs for
// TargetName: a failure leaves the database as it was before the run.
// Ends the process on a failed open and on an implausible inventory
// ("Problems with WMI"); any other failure logs "Error updating database"
// with TargetName + ":" + the description, sends "Complete" and returns.
void UpdateDB(ScanState& state);

}  // namespace hostlore
