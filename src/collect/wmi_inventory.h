// The inventory through the target's WMI service, with the hand-over to the
// registry and share method when WMI cannot be reached.
#pragma once

#include <string>

namespace hostlore {

struct ScanState;

// Replaces TargetName by the target's own computer name (from the registry,
// then from WMI; a computer that names itself nowhere keeps the name it was
// reached by, and a log line says so), then fills the
// hardware, operating-system, processor, BIOS, drive, user and service
// fields from five WMI queries, sending the progress steps 6, 10, 20, 27,
// 29 and 33. A step that fails is skipped and recorded in LastFailure; a
// query that leaves LastFailure at kObjectNotSet ends the run. In user-only
// mode only the name and the logged-on user are settled.
void GetWMI(ScanState& state);

// Opens WmiServices on `host`; a failure shows in LastFailure.
void ConnectWMI(ScanState& state, const std::string& host);

}  // namespace hostlore
