// The lab: simulated computers described by the JSON files of one folder.
#pragma once

#include <string>
#include <string_view>

#include "platform/platform.h"

namespace hostlore {

// A platform whose seams answer from the lab computers of `folder` (every
// *.json file in it), with the system clock; `target` as for
// LabDirectory::Load. Failure: the folder or one of its files cannot be read
// or parsed; the description names the file.
Result<Platform> MakeLabPlatform(const std::string& folder, std::string_view target = {});

}  // namespace hostlore
