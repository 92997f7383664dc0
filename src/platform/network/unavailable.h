// Stand-ins for the network seams that this build cannot reach yet: every
// call fails with a description that says so, and the collectors treat the
// target as they treat one whose service is unreachable.
#pragma once

#include <memory>

#include "platform/registry/registry.h"
#include "platform/services/service_manager.h"
#include "platform/shares/share_space.h"
#include "platform/wmi/wmi.h"

namespace hostlore {

std::unique_ptr<RemoteRegistry> NewUnavailableRegistry();
std::unique_ptr<ServiceManager> NewUnavailableServiceManager();
std::unique_ptr<ShareSpace> NewUnavailableShareSpace();
std::unique_ptr<Wmi> NewUnavailableWmi();

}  // namespace hostlore
