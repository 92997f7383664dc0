// Checking a lab folder before the agents start.
#pragma once

#include <string>

#include "platform/status.h"

namespace hostlore::fleet {

// Loads the lab of `folder` once, as every agent would, so that a broken lab
// is reported before any agent starts, and leaves the lab's index for the
// agents (platform/lab/lab_index.h).
//
// The load runs in a child process. A full load of a large lab takes tens of
// megabytes, and the kernel counts the spawning process's peak memory into
// the peak that it reports for each agent spawned afterwards: loaded here, a
// lab of 10,000 computers made every agent look 60 MB large.
// Failure: the lab cannot be loaded (the description says why), or the check
// itself could not run.
Status CheckLab(const std::string& folder);

}  // namespace hostlore::fleet
