#include "platform/lab/lab_platform.h"

namespace hostlore {

Result<Platform> MakeLabPlatform(const std::string& folder) {
  return Status::Failure(1, "lab backend not built yet: " + folder);
}

}  // namespace hostlore
