#include "platform/lab/lab_platform.h"

#include <cstdlib>

#include "platform/lab/lab_directory.h"
#include "platform/lab/lab_seams.h"

namespace hostlore {

Result<Platform> MakeLabPlatform(const std::string& folder, std::string_view target) {
  Result<std::shared_ptr<const LabDirectory>> lab = LabDirectory::Load(folder, target);
  if (!lab.ok()) return lab.status();
  Platform platform;
  platform.clock = NewSystemClock();
  platform.echo = NewLabEcho(lab.value());
  const char* journal = secure_getenv("HOSTLORE_LAB_JOURNAL");
  auto states = std::make_shared<LabServiceStates>(journal != nullptr ? journal : "");
  platform.registry = NewLabRegistry(lab.value(), states);
  platform.services = NewLabServiceManager(lab.value(), states);
  platform.shares = NewLabShareSpace(lab.value());
  platform.wmi = NewLabWmi(lab.value());
  return platform;
}

}  // namespace hostlore
