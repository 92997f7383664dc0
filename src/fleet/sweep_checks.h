// Checks made before the first agent starts, so that a mistake costs a
// second and one message instead of a whole sweep.
#pragma once

#include <string>

#include "platform/status.h"

namespace hostlore::fleet {

// Whether the report file can be written: an existing file must be
// writable, a new one's folder must exist and take new files. Nothing is
// created. The message names the path and the system's reason.
Status CheckReportPath(const std::string& path);

// Opens one connection to the database `server` and closes it again, in a
// child process (fleet/child_check.h): a SQLite file gets its tables, as the
// first agent would give them. The message names the server and the reason
// the engine gives. Call it before the runner starts any thread.
Status CheckDatabase(const std::string& server);

}  // namespace hostlore::fleet
