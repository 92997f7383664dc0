// The inventory of a target without a reachable WMI service: drives from
// its administrative shares, the operating system from its registry, the
// user and the service list.
#pragma once

namespace hostlore {

struct ScanState;

void NTMethod(ScanState& state);

}  // namespace hostlore
