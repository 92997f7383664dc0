// The remote access check: can the target's registry be worked on?
#pragma once

namespace hostlore {

struct ScanState;

// Reads HKLM "Software\Microsoft\Windows NT\CurrentVersion" value
// "currentversion" of TargetAddress, opening the key with more than read
// rights. Nothing read: one log line, the "Complete" line, and the end of
// the run. Otherwise returns.
void CheckAccess(ScanState& state);

}  // namespace hostlore
