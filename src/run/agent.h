// One agent run from its command-line text to its exit status.
#pragma once

#include <functional>

#include "platform/platform.h"

namespace hostlore {

struct ScanState;

using PlatformFactory = std::function<Result<Platform>()>;

// Loads the command line, opens the platform, waits the one-shot 200 ms and
// scans. `state.CommandLine` must hold the command-line text. Returns the
// exit status (0 normal end, 1 a failure path was taken, 2 unreadable
// command line).
int RunAgent(ScanState& state, const PlatformFactory& make_platform);

}  // namespace hostlore
