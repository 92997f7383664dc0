// hostlore-db show: a computer's stored inventory and history for people.
#pragma once

#include <ostream>
#include <string>

#include "platform/database/database.h"
#include "platform/status.h"

namespace hostlore {

// Prints the Asset row (one "Name: value" line per column), the history one
// record per line, the software entries one per line with their fields
// joined by " | ", the services, the drive histories of C: to J: one day per
// line, and the last access. Failure: a query failed.
Status ShowComputer(Database& database, const std::string& computer, std::ostream& out);

}  // namespace hostlore
