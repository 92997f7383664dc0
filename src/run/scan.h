// The scan sequence: one complete run for the target in TargetName.
#pragma once

namespace hostlore {

struct ScanState;

// Echo, contact record, access check, inventory, storage, in that order, with
// the progress steps between them. Never returns: the run ends through
// ProcessEnd, normally after its last "Complete" line.
[[noreturn]] void Scan(ScanState& state);

}  // namespace hostlore
