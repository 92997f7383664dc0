#include "platform/network/network_platform.h"

#include "platform/network/icmp_echo.h"
#include "platform/network/unavailable.h"

namespace hostlore {

Platform MakeNetworkPlatform() {
  Platform p;
  p.clock = NewSystemClock();
  p.echo = NewNetworkEcho();
  p.registry = NewUnavailableRegistry();
  p.services = NewUnavailableServiceManager();
  p.shares = NewUnavailableShareSpace();
  p.wmi = NewUnavailableWmi();
  return p;
}

}  // namespace hostlore
