#include "fleet/lab_check.h"

#include "fleet/child_check.h"
#include "platform/lab/lab_directory.h"

namespace hostlore::fleet {

Status CheckLab(const std::string& folder) {
  return RunCheckInChild("lab check of " + folder, [&folder] {
    const auto loaded = LabDirectory::Load(folder);
    return loaded.ok() ? Status::Ok() : loaded.status();
  });
}

}  // namespace hostlore::fleet
