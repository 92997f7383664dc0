#include <cstdlib>

#include "platform/lab/lab_platform.h"
#include "platform/network_module_loader.h"
#include "platform/platform.h"

namespace hostlore {

Result<Platform> MakePlatform(std::string_view target) {
  const char* lab = ::secure_getenv("HOSTLORE_LAB");
  if (lab != nullptr) return MakeLabPlatform(lab, target);
  return LoadNetworkPlatform();
}

}  // namespace hostlore
