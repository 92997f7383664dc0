#include "platform/network/network_platform.h"

#include "platform/network/icmp/icmp_echo.h"
#include "platform/network/smb/smb_backends.h"
#include "platform/network/wsman/winrm_wmi.h"

namespace hostlore {

Platform MakeNetworkPlatform() {
  auto targets = std::make_shared<SmbTargets>();
  Platform p;
  p.clock = NewSystemClock();
  p.echo = NewNetworkEcho();
  p.registry = NewSmbRegistry(targets);
  p.services = NewSmbServiceManager(targets);
  p.shares = NewSmbShareSpace(targets);
  p.wmi = wsman::NewWinrmWmi();
  return p;
}

}  // namespace hostlore
