// The network backends of the registry, service and share seams: SMB
// sessions through libsmbclient, with our own DCE/RPC client on the winreg
// and svcctl pipes. All three share `targets`, so that a run keeps one
// session per target.
#pragma once

#include <memory>

#include "platform/network/smb/smb_targets.h"
#include "platform/registry/registry.h"
#include "platform/services/service_manager.h"
#include "platform/shares/share_space.h"

namespace hostlore {

std::unique_ptr<RemoteRegistry> NewSmbRegistry(std::shared_ptr<SmbTargets> targets);
std::unique_ptr<ServiceManager> NewSmbServiceManager(std::shared_ptr<SmbTargets> targets);
std::unique_ptr<ShareSpace> NewSmbShareSpace(std::shared_ptr<SmbTargets> targets);

}  // namespace hostlore
