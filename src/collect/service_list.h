// The target's service list: display names of all its Win32 services.
#pragma once

namespace hostlore {

struct ScanState;

// How ListServices tells of a failed enumeration.
enum class ServiceReport {
  kLog,         // one log line "Error listing services"
  kMessageBox,  // a message box with the system error code
};

// Appends the display names of TargetAddress's Win32 services, in
// enumeration order, to ServicesList, joined by "^". An unreachable service
// manager leaves the list as it is, silently; a failed size query or listing
// is reported as `report` says and leaves it as well. Names longer than 250
// characters are cut to 250.
void ListServices(ScanState& state, ServiceReport report);

}  // namespace hostlore
