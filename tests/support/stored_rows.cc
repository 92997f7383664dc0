#include "support/stored_rows.h"

#include <gtest/gtest.h>

#include "db/connect.h"

namespace hostlore::test {

std::vector<FieldValue> ReadRow(const std::string& server, const TableQuery& query) {
  Result<std::unique_ptr<Database>> db = ConnectDatabase(server);
  EXPECT_TRUE(db.ok()) << db.status().description();
  if (!db.ok()) return {};
  Result<std::unique_ptr<RecordSet>> rows = db.value()->Open(query);
  EXPECT_TRUE(rows.ok()) << rows.status().description();
  std::vector<FieldValue> values;
  for (int ordinal = 0; rows.ok(); ++ordinal) {
    Result<FieldValue> value = rows.value()->Field(ordinal);
    if (!value.ok()) break;
    values.push_back(value.value());
  }
  return values;
}

int64_t CountRows(const std::string& server, const TableQuery& query) {
  Result<std::unique_ptr<Database>> db = ConnectDatabase(server);
  if (!db.ok()) return -2;
  Result<std::unique_ptr<RecordSet>> rows = db.value()->Open(query);
  return rows.ok() ? rows.value()->RecordCount() : -2;
}

}  // namespace hostlore::test
