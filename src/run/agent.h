// One agent run from its command-line text to its exit status.
#pragma once

#include <functional>

#include "platform/platform.h"

namespace hostlore {

struct ScanState;

using PlatformFactory = std::function<Result<Platform>()>;

// Loads the command line, opens the platform, waits the one-shot 200 ms and
// scans; whichever way the scan ends, puts back what it changed on the
// target. `state.CommandLine` must hold the command-line text. With
// `watch_signals` (the agent's main, which has blocked them), a termination
// signal ends the run from another thread (run/termination_watch.h).
// Returns the exit status (0 normal end, 1 a failure path was taken, 2
// unreadable command line, which also puts one usage line on standard
// error). The command line "--help" or "--version", exactly, prints that
// text and returns 0.
int RunAgent(ScanState& state, const PlatformFactory& make_platform, bool watch_signals = false);

}  // namespace hostlore
