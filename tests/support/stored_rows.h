// Reading back what a run stored, column by column, over a connection of
// the test's own.
#pragma once

#include <string>
#include <vector>

#include "platform/database/database.h"

namespace hostlore::test {

// The first row that `query` returns on `server`, each column by ordinal;
// empty when there is none.
std::vector<FieldValue> ReadRow(const std::string& server, const TableQuery& query);

// How many rows `query` selects; -2 when the database cannot be read.
int64_t CountRows(const std::string& server, const TableQuery& query);

}  // namespace hostlore::test
