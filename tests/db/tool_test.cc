// hostlore-db: the schema check against the layout, and what show prints.
#include <gtest/gtest.h>

#include <sstream>

#include "db/connect.h"
#include "db/db_fixture.h"
#include "db/tool/schema_check.h"
#include "db/tool/show_computer.h"
#include "db/update_db.h"
#include "db/update_last_access.h"

namespace hostlore::test {
namespace {

class ToolTest : public DbFixture {};

TEST_P(ToolTest, CheckFindsKindsOutOfPlace) {
  Result<std::shared_ptr<EngineConnection>> engine = ConnectEngine(server_);
  ASSERT_TRUE(engine.ok());
  ASSERT_TRUE(InitSchema(*engine.value()).ok());  // a second init changes nothing
  EXPECT_TRUE(CheckSchema(*engine.value()).empty());

  Exec("DROP TABLE DriveHistory;\nCREATE TABLE DriveHistory (DiskComputer varchar(255), "
       "DriveHistoryText text);");
  engine = ConnectEngine(server_);  // the tool checks once per process
  ASSERT_TRUE(engine.ok());
  const std::vector<std::string> differences = CheckSchema(*engine.value());
  ASSERT_EQ(differences.size(), 2u);
  EXPECT_TRUE(differences[0].starts_with("DriveHistory ordinal 1 (DriveHistoryText): should be text, is "))
      << differences[0];
  EXPECT_TRUE(differences[0].ends_with(" (long text)")) << differences[0];
  EXPECT_EQ(differences[1], "DriveHistory ordinal 2 (DiskOwner): missing");
}

TEST_P(ToolTest, ShowPrintsTheInventoryAndItsHistories) {
  FillInventory(*state_);
  state_->PingOk = true;
  ASSERT_FALSE(Ends(UpdateLastAccess));
  ASSERT_FALSE(Ends(UpdateDB));
  Result<std::unique_ptr<Database>> db = ConnectDatabase(server_);
  ASSERT_TRUE(db.ok());
  std::ostringstream out;
  ASSERT_TRUE(ShowComputer(*db.value(), "PC042", out).ok());
  const std::string text = out.str();
  for (const char* expected :
       {"Asset (PC042)\n", "  1 Manufacturer: Acme\n", "  10 Processor1Speed: 2793\n",
        "  37 DriveBCaption: (Null)\n", "History\n  2003/05/29 14:07:09  New Record Created\n",
        "Software\n  Office | 11 | C:\\Office | {1} |  | \n",
        "Services\n  Alerter\n  Application Management\n",
        "Drive history\n  C: 2003/05/29  1250.5\n", "Last access\n  2003/05/29 14:07:09\n"}) {
    EXPECT_NE(text.find(expected), std::string::npos) << expected << "\nin:\n" << text;
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, ToolTest,
                         ::testing::Values(DbEngine::kSqlite, DbEngine::kPostgreSql), EngineName);

}  // namespace
}  // namespace hostlore::test
