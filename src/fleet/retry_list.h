// The targets of an earlier sweep's report that are worth another run.
#pragma once

#include <string>
#include <vector>

#include "platform/status.h"

namespace hostlore::fleet {

// The "target" of every record of the JSON report at `path` whose outcome is
// "not started", "interrupted", "timed out", "failed" or "crashed", in the
// report's order. Stored, silent, unknown and refused targets are left out:
// another run would end the same way. Failure: the file cannot be read or
// is not a report of hostlore-fleet; the message names it and says why.
Result<std::vector<std::string>> ReadRetryTargets(const std::string& path);

}  // namespace hostlore::fleet
