// hostlore-db: the schema check against the layout, show, and the fleet
// questions in each output format.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <sstream>

#include "db/connect.h"
#include "db/db_fixture.h"
#include "db/fleet_fixture.h"
#include "db/tool/fleet_commands.h"
#include "db/tool/schema_check.h"

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

class FleetToolTest : public FleetFixture {
 protected:
  // Runs hostlore-db with `args` (after the command, the server is added);
  // the exit status, and what it printed.
  int Run(std::vector<std::string> args, std::string* out = nullptr, std::string* err = nullptr) {
    args.insert(args.begin() + 1, server_);
    args.push_back("--index");
    args.push_back((folder_.path() / "tool-index.sqlite").string());
    Result<FleetCommand> command = ParseFleetCommand(args);
    EXPECT_TRUE(command.ok()) << command.status().description();
    std::ostringstream printed, complained;
    const int status = RunFleetCommand(command.value(), Now(), printed, complained);
    if (out != nullptr) *out = printed.str();
    if (err != nullptr) *err = complained.str();
    return status;
  }
};

TEST_P(FleetToolTest, ShowFindsAComputerWhateverTheCaseOfItsName) {
  std::string out, err;
  ASSERT_EQ(Run({"show", "pc042"}, &out, &err), 0) << err;
  for (const char* expected :
       {"Asset (PC042)\n", "  1 Manufacturer: Acme\n", "  10 Processor1Speed: 2793\n", "  17 TotalPhysicalMemory: 1024\n",
        "  37 DriveBCaption: (Null)\n", "History\n  2003/05/01 09:00:00  New Record Created\n",
        "  2003/06/09 09:00:00  Physical Memory changed from 512 To 1024\n",
        "Software\n  Microsoft Office | 12 | C:\\Apps | {Microsoft Office} |  | \n",
        "Services\n  Alerter\n  Application Management\n",
        "Drive history\n  C: 2003/05/01  1250.5\n  C: 2003/06/09  1250.5\n",
        "Last access\n  2003/06/09 09:00:00 (as pc042.corp.example)\n"}) {
    EXPECT_NE(out.find(expected), std::string::npos) << expected << "\nin:\n" << out;
  }
  EXPECT_EQ(Run({"show", "NOBODY"}, &out, &err), 1);
  EXPECT_EQ(err, "hostlore-db: no computer named NOBODY\n");
  ASSERT_EQ(Run({"show", "silent9"}, &out, &err), 0);  // known from its contact alone
  EXPECT_NE(out.find("No Asset row for SILENT9\n"), std::string::npos) << out;
}

TEST_P(FleetToolTest, AnswersTheFleetQuestionsInEveryFormat) {
  std::string out, err;
  ASSERT_EQ(Run({"stale", "--days", "30"}, &out, &err), 0) << err;
  EXPECT_TRUE(out.starts_with("name ")) << out;
  EXPECT_NE(out.find("\nOLD01 "), std::string::npos) << out;
  EXPECT_NE(out.find("\nSILENT9 "), std::string::npos) << out;
  EXPECT_EQ(out.find("PC042"), std::string::npos) << out;

  ASSERT_EQ(Run({"software", "office", "--format", "csv"}, &out, &err), 0) << err;
  EXPECT_EQ(out,
            "program,version,computer,last_contact,stale\r\n"
            "Microsoft Office,11,NEW01,2003/06/08 10:00:00,false\r\n"
            "Microsoft Office,11,OLD01,2003/04/01 10:00:00,true\r\n"
            "Microsoft Office,12,PC042,2003/06/09 09:00:00,false\r\n");

  ASSERT_EQ(Run({"changes", "--since", "2003-06-09", "--computer", "pc042", "--format", "json"}, &out, &err), 0);
  const nlohmann::json changes = nlohmann::json::parse(out);
  ASSERT_EQ(changes.size(), 4u);
  EXPECT_EQ(changes[0]["kind"], "installed");
  EXPECT_EQ(changes[3]["subject"], "Physical Memory");

  ASSERT_EQ(Run({"list", "--format", "json"}, &out, &err), 0);
  EXPECT_EQ(nlohmann::json::parse(out).size(), 6u);

  for (const std::vector<std::string>& wrong :
       {std::vector<std::string>{"changes", "s", "--since", "yesterday"}, {"list", "s", "--format", "xml"},
        {"software", "s"}, {"stale", "s", "--days", "-1"}, {"list", "s", "--sort"}}) {
    EXPECT_FALSE(ParseFleetCommand(wrong).ok()) << wrong[0] << " " << wrong.back();
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, FleetToolTest,
                         ::testing::Values(DbEngine::kSqlite, DbEngine::kPostgreSql), EngineName);

INSTANTIATE_TEST_SUITE_P(Engines, ToolTest,
                         ::testing::Values(DbEngine::kSqlite, DbEngine::kPostgreSql), EngineName);

}  // namespace
}  // namespace hostlore::test
