#include "platform/network/network_platform.h"

#include "platform/network/icmp/icmp_echo.h"
#include "platform/network/smb/smb_backends.h"
#include "platform/network/target_names.h"
#include "platform/network/wsman/winrm_wmi.h"

namespace hostlore {

Platform MakeNetworkPlatform() {
  // The name the echo looked the target up by is the name Kerberos
  // presents to it over SMB and WinRM.
  auto names = std::make_shared<TargetNames>();
  auto targets = std::make_shared<SmbTargets>(names);
  Platform p;
  p.clock = NewSystemClock();
  p.echo = NotingLookups(NewNetworkEcho(), names);
  p.registry = NewSmbRegistry(targets);
  p.services = NewSmbServiceManager(targets);
  p.shares = NewSmbShareSpace(targets);
  p.wmi = wsman::NewWinrmWmi(names);
  return p;
}

}  // namespace hostlore
