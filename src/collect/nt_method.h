// The inventory of a target without a reachable WMI service: drives from
// its administrative shares, the operating system and the hardware from its
// registry, the user and the service list. Sets RegistryPath: what this path
// cannot read keeps its stored value.
#pragma once

namespace hostlore {

struct ScanState;

void NTMethod(ScanState& state);

}  // namespace hostlore
