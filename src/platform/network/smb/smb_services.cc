// The service seam over svcctl on the target's SMB named pipe.
#include "platform/network/rpc/svcctl_client.h"
#include "platform/network/rpc/svcctl_service_manager.h"
#include "platform/network/smb/smb_backends.h"

namespace hostlore {
namespace {

svcctl::ChannelOpener SvcctlPipe(std::shared_ptr<SmbTargets> targets) {
  return [targets](const std::string& host) {
    return OpenRpcChannel(*targets, host, "svcctl", svcctl::InterfaceId());
  };
}

}  // namespace

std::unique_ptr<ServiceManager> NewSmbServiceManager(std::shared_ptr<SmbTargets> targets) {
  // An independent manager gets sessions of its own (libsmbclient contexts
  // must not be shared between threads), and the host names known when it
  // is made.
  return svcctl::NewSvcctlServiceManager(SvcctlPipe(targets),
                                         [targets] { return SvcctlPipe(targets->Another()); });
}

}  // namespace hostlore
