// The network: real computers.
#pragma once

#include "platform/platform.h"

namespace hostlore {

// A platform whose seams reach real computers over the network, with the
// system clock.
Platform MakeNetworkPlatform();

}  // namespace hostlore
