// The remote access check: can the target's registry be worked on?
#pragma once

namespace hostlore {

struct ScanState;

// Puts the registry seam behind the RemoteRegistry service's start
// (probe/registry_service.h), then reads HKLM
// "Software\Microsoft\Windows NT\CurrentVersion" value
// "currentversion" of TargetAddress, opening the key with more than read
// rights. Nothing read: one log line that ends in the reason (the failure
// of the connection, the key or the value), the "Complete" line, and the
// end of the run. Otherwise returns.
void CheckAccess(ScanState& state);

}  // namespace hostlore
