// The seams of the lab platform, each answering from the computers of one
// lab directory. Every seam and every handle it hands out keeps the computers
// it needs alive, and may be used from several threads at once.
#pragma once

#include <memory>

#include "platform/lab/lab_directory.h"
#include "platform/lab/lab_service_states.h"
#include "platform/platform.h"

namespace hostlore {

std::unique_ptr<Echo> NewLabEcho(std::shared_ptr<const LabDirectory> lab);
// The registry and the service manager share what the agent changed.
std::unique_ptr<RemoteRegistry> NewLabRegistry(std::shared_ptr<const LabDirectory> lab,
                                               std::shared_ptr<LabServiceStates> states);
std::unique_ptr<ServiceManager> NewLabServiceManager(std::shared_ptr<const LabDirectory> lab,
                                                     std::shared_ptr<LabServiceStates> states);
std::unique_ptr<ShareSpace> NewLabShareSpace(std::shared_ptr<const LabDirectory> lab);
std::unique_ptr<Wmi> NewLabWmi(std::shared_ptr<const LabDirectory> lab);

}  // namespace hostlore
