// hostlore-db show: a computer's stored inventory and history for people.
#pragma once

#include <ostream>

#include "db/computer_record.h"

namespace hostlore {

// Prints the Asset row (one "ordinal Name: value" line per column), the
// history one record per line, the software entries one per line with their
// fields joined by " | ", the services, the drive histories of C: to J: one
// day per line, and the last access under each name the computer was given.
// Every value is escaped for a terminal.
void PrintComputerRecord(const ComputerRecord& record, std::ostream& out);

}  // namespace hostlore
