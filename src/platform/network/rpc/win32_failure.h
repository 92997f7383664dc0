// A Win32 status code that a remote call returned, as a failure Status.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/status.h"

namespace hostlore {

// Failure numbered `code`, described as `what` plus the code's name.
Status Win32Failure(uint32_t code, std::string_view what);

}  // namespace hostlore
