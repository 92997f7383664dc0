// The one-line texts of a target and of the fleet, shared by both views and
// the summary.
#pragma once

#include <string>

#include "fleet/fleet_state.h"

namespace hostlore::fleet {

// "stored         PC042 192.0.2.42 1.4 s" and, when there is one, " · detail".
std::string FinishedLine(const TargetRun& run);

// "3 s", "2 min 05 s", "1 h 02 min".
std::string FormatDuration(double seconds);

// "120/10000 done · 12 answering · 100 not answering · 8 failed".
std::string CountsLine(const FleetCounts& counts);

// "echo: 2560/10000 sent · 256 answered · 2000 silent" and, when there are
// any, the unknown names, the answered targets waiting for a job and the
// contacts not yet recorded.
std::string SweepLine(const SweepCounts& sweep, size_t targets);

}  // namespace hostlore::fleet
