// A scan state pointed at a fresh database (a SQLite file, or a database on
// the test's own PostgreSQL server), with a fixed clock and captured
// progress lines and log.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/database/database.h"
#include "scan/scan_state.h"
#include "support/test_support.h"

namespace hostlore {
// Shows a stored value in test failures.
void PrintTo(const FieldValue& value, std::ostream* out);
}  // namespace hostlore

namespace hostlore::test {

enum class DbEngine { kSqlite, kPostgreSql };
std::string EngineName(const ::testing::TestParamInfo<DbEngine>& info);

// A new empty database with the five tables; its server field. Skips the
// test (with the reason) when PostgreSQL cannot run here.
std::string NewDatabase(DbEngine engine, const TempFolder& folder);

// Fills the scan state with the inventory of a small computer PC042: two
// processors, drives C: (NTFS) and D: (CDFS), 512 MB.
void FillInventory(ScanState& state);

class DbFixture : public ::testing::TestWithParam<DbEngine> {
 protected:
  void SetUp() override;

  // Runs a stage; true when it ended the process.
  bool Ends(const std::function<void(ScanState&)>& stage);
  // A fresh scan state for another run against the same database.
  void NewRun();

  // The first row that a per-key query returns (empty when none), each
  // column by ordinal, read over a connection of its own; and the count.
  std::vector<FieldValue> Row(const TableQuery& query);
  int64_t Count(const TableQuery& query);
  std::string History();  // Asset ordinal 92 of PC042 as text
  // Runs SQL of the test's own on the database.
  void Exec(const std::string& sql);

  std::vector<std::string> Progress() { return progress_.Lines(); }
  std::vector<std::string> LogWithoutTime() const;

  TempFolder folder_;
  ProgressCapture progress_;
  std::string server_;
  FixedClock* clock_ = nullptr;
  std::unique_ptr<ScanState> state_;
};

}  // namespace hostlore::test
