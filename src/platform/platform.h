// The platform: every seam through which the agent touches the outside world
// besides its own progress channel, log file and database.
#pragma once

#include <memory>
#include <string_view>

#include "platform/clock/clock.h"
#include "platform/echo/echo.h"
#include "platform/registry/registry.h"
#include "platform/services/service_manager.h"
#include "platform/shares/share_space.h"
#include "platform/wmi/wmi.h"

namespace hostlore {

struct Platform {
  std::unique_ptr<Clock> clock;
  std::unique_ptr<Echo> echo;
  std::unique_ptr<RemoteRegistry> registry;
  std::unique_ptr<ServiceManager> services;
  std::unique_ptr<ShareSpace> shares;
  std::unique_ptr<Wmi> wmi;
};

// The platform this process runs on: the lab of simulated computers when the
// environment variable HOSTLORE_LAB names a folder, the network otherwise.
// `target`, when given, is the computer the run is for: its lab file is
// checked now (see LabDirectory::Load). Failure: the lab folder or the
// target's file cannot be read (the description says why).
Result<Platform> MakePlatform(std::string_view target = {});

}  // namespace hostlore
