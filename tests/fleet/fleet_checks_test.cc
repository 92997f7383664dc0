// What hostlore-fleet checks before the first agent starts, and --retry.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>

#include "fleet/fleet_lab.h"
#include "fleet/fleet_process.h"
#include "fleet/retry_list.h"
#include "fleet/server_field_check.h"

namespace hostlore::test {
namespace {

TEST(ServerFieldCheckTest, MistypedFieldsAreRefusedWithWhatWasMeant) {
  for (const char* accepted : {"sqlite:inv.db", "postgresql://db/inv", "odbc:DSN=inventory", "DBSRV",
                               "dbsrv.corp.example", "DBSRV\\INVENTORY", "dbsrv:1433", "fe80::1"}) {
    EXPECT_TRUE(fleet::CheckServerField(accepted).ok()) << accepted;
  }
  const std::vector<std::pair<std::string, std::string>> refused = {
      {"sqllite:inv.db", "is not understood (did you mean sqlite:inv.db?)"},
      {"SQLite:inv.db", "did you mean sqlite:inv.db?"},
      {"postgres://db/inv", "did you mean postgresql://db/inv?"},
      {"postgresql:/db/inv", "did you mean postgresql://db/inv?"},
      {"mysql://db/inv", "starts with \"mysql:\", which is no kind of server"},
      {"inv.db", "looks like a file path"},
      {"/var/lib/hostlore/inv", "a SQLite file is written sqlite:/var/lib/hostlore/inv"},
      {"sqlite:", "names no file"},
      {"", "is empty"},
  };
  for (const auto& [field, complaint] : refused) {
    const Status checked = fleet::CheckServerField(field);
    ASSERT_FALSE(checked.ok()) << field;
    EXPECT_NE(checked.description().find(complaint), std::string::npos) << checked.description();
    EXPECT_TRUE(checked.description().ends_with("; write " + std::string(fleet::kServerForms)));
  }
}

class FleetChecksTest : public ::testing::Test {
 protected:
  void SetUp() override { AddLabComputer(lab_, "PC042", "192.0.2.42"); }
  std::map<std::string, std::string> LabEnv() const { return {{"HOSTLORE_LAB", lab_.path().string()}}; }
  std::string Db() const { return "sqlite:" + (work_.path() / "inv.db").string(); }
  TempFolder lab_;
  TempFolder work_;
};

// Each mistake ends the runner with one line and status 2 before any agent
// starts (a stand-in agent would leave a mark).
TEST_F(FleetChecksTest, MistakesAreRefusedBeforeAnyAgentStarts) {
  const auto marks = work_.path() / "started";
  const auto agent = WriteScript(work_.path(), "agent", "echo started >> " + marks.string() + "\n");
  TempFolder broken_lab;
  broken_lab.Write("pc1.json", "{\"names\": [\"PC1\"], ");
  const std::string nowhere = (work_.path() / "no-folder").string();
  struct Mistake {
    std::vector<std::string> arguments;
    std::string message;
    std::string lab;  // empty: the test's own
  };
  const std::vector<Mistake> mistakes = {
      {{"sqllite:inv.db", "PC042"}, "the server \"sqllite:inv.db\" is not understood", ""},
      {{"postgres://db/inv", "PC042"}, "did you mean postgresql://db/inv?", ""},
      {{"inv.db", "PC042"}, "looks like a file path", ""},
      {{"--report", nowhere + "/r.json", Db(), "PC042"},
       "the report " + nowhere + "/r.json cannot be written: No such file or directory (the folder " +
           nowhere + ")", ""},
      {{Db(), "@nosuch.txt"}, "target list nosuch.txt cannot be read: No such file or directory", ""},
      {{Db(), "@", "nosuch.txt"}, "\"@\" needs the file name right after it", ""},
      {{Db(), "10.20.0.5/24"}, "has host bits set", ""},
      // The lab is loaded by the echo sweep, after the database check.
      {{"sqlite:" + (work_.path() / "lab.db").string(), "PC042"}, "pc1.json", broken_lab.path().string()},
      {{"sqlite:" + nowhere + "/inv.db", "PC042"},
       "cannot connect to sqlite:" + nowhere + "/inv.db: " + nowhere +
           "/inv.db: unable to open database file (No such file or directory)", ""},
  };
  double slowest = 0;
  for (const Mistake& mistake : mistakes) {
    std::vector<std::string> arguments = {"--agent", agent.string()};
    arguments.insert(arguments.end(), mistake.arguments.begin(), mistake.arguments.end());
    const auto start = std::chrono::steady_clock::now();
    const FleetResult result =
        RunFleet(arguments, work_.path(),
                 mistake.lab.empty() ? LabEnv() : std::map<std::string, std::string>{{"HOSTLORE_LAB", mistake.lab}});
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    slowest = std::max(slowest, seconds);
    EXPECT_EQ(result.exit_status, 2) << mistake.message;
    EXPECT_TRUE(result.err.starts_with("hostlore-fleet: ")) << result.err;
    EXPECT_NE(result.err.find(mistake.message), std::string::npos) << result.err;
    EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
    EXPECT_FALSE(std::filesystem::exists(marks)) << mistake.message;
  }
  EXPECT_FALSE(std::filesystem::exists(work_.path() / "inv.db"));
  RecordProperty("slowest_refusal_ms", static_cast<int>(slowest * 1000));  // shown, not judged
}

TEST_F(FleetChecksTest, RetryRunsTheTargetsThatDidNotFinish) {
  AddLabComputer(lab_, "PC043", "192.0.2.43");
  const auto earlier = work_.path() / "earlier.json";
  std::ofstream(earlier) << R"({"targets": [
      {"target": "PC042", "outcome": "not started"}, {"target": "SILENT", "outcome": "not answering"},
      {"target": "PC9", "outcome": "stored"}, {"target": "LOCKED", "outcome": "access refused"},
      {"target": "PC043", "outcome": "timed out"}, {"target": "X1", "outcome": "interrupted"},
      {"target": "X2", "outcome": "failed"}, {"target": "X3", "outcome": "crashed"}]})";
  Result<std::vector<std::string>> again = fleet::ReadRetryTargets(earlier.string());
  ASSERT_TRUE(again.ok()) << again.status().description();
  EXPECT_EQ(again.value(), (std::vector<std::string>{"PC042", "PC043", "X1", "X2", "X3"}));

  std::ofstream(earlier) << R"({"targets": [{"target": "PC042", "outcome": "interrupted"},
      {"target": "PC9", "outcome": "stored"}]})";
  const auto report = work_.path() / "again.json";
  const FleetResult result = RunFleet({"--retry", earlier.string(), "--report", report.string(), Db(), "PC043"},
                                      work_.path(), LabEnv());
  EXPECT_EQ(result.exit_status, 0) << result.out << result.err;
  const nlohmann::json rows = ReadJson(report)["targets"];
  ASSERT_EQ(rows.size(), 2u) << rows.dump();
  EXPECT_EQ(rows[0]["target"], "PC043");
  EXPECT_EQ(rows[1]["target"], "PC042");
  EXPECT_EQ(rows[1]["outcome"], "stored");

  // Nothing left to run, and a file that is no report.
  std::ofstream(earlier) << R"({"targets": [{"target": "PC9", "outcome": "stored"}]})";
  const FleetResult done = RunFleet({"--retry", earlier.string(), Db()}, work_.path(), LabEnv());
  EXPECT_EQ(done.exit_status, 0);
  EXPECT_TRUE(done.out.starts_with("Nothing to run again: ")) << done.out;
  std::ofstream(earlier) << "target,outcome\n";
  const FleetResult wrong = RunFleet({"--retry", earlier.string(), Db()}, work_.path(), LabEnv());
  EXPECT_EQ(wrong.exit_status, 2);
  EXPECT_NE(wrong.err.find("is not a JSON report of hostlore-fleet"), std::string::npos) << wrong.err;
}

}  // namespace
}  // namespace hostlore::test
