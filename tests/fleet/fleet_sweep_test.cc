// The runner's own echo sweep over lab computers: what it leaves in the
// database, and what it does with unknown names, duplicates and Ctrl-C.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <regex>
#include <set>
#include <thread>

#include "db/connect.h"
#include "fleet/fleet_lab.h"
#include "fleet/fleet_process.h"

namespace hostlore::test {
namespace {

using namespace std::chrono_literals;

// Every row of the five tables as text, with its table's name and the time
// stamps masked, in a sorted bag: what two runs of the same fleet must both
// have left, whatever the order of their writes.
std::multiset<std::string> StoredRows(const std::filesystem::path& file) {
  sqlite3* db = nullptr;
  EXPECT_EQ(sqlite3_open_v2(file.c_str(), &db, SQLITE_OPEN_READONLY, nullptr), SQLITE_OK);
  const std::regex time_stamp(R"(\d{4}/\d{2}/\d{2}( \d{2}:\d{2}:\d{2})?)");
  std::multiset<std::string> rows;
  for (const std::string table : {"Asset", "Software", "Services", "LastAccess", "DriveHistory"}) {
    sqlite3_stmt* statement = nullptr;
    EXPECT_EQ(sqlite3_prepare_v2(db, ("SELECT * FROM " + table).c_str(), -1, &statement, nullptr), SQLITE_OK);
    while (sqlite3_step(statement) == SQLITE_ROW) {
      std::string row = table;
      for (int column = 0; column < sqlite3_column_count(statement); ++column) {
        const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
        row += text == nullptr ? "|(null)" : "|" + std::regex_replace(text, time_stamp, "(time)");
      }
      rows.insert(row);
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(db);
  return rows;
}

std::map<std::string, std::string> Outcomes(const std::filesystem::path& report) {
  std::map<std::string, std::string> outcomes;
  const nlohmann::json rows = ReadJson(report)["targets"];
  for (const nlohmann::json& row : rows) {
    outcomes[row["target"].get<std::string>()] = row["outcome"].get<std::string>();
  }
  return outcomes;
}

class FleetSweepTest : public ::testing::Test {
 protected:
  std::map<std::string, std::string> LabEnv() const { return {{"HOSTLORE_LAB", lab_.path().string()}}; }
  std::string Db(const std::string& name) const { return "sqlite:" + (work_.path() / name).string(); }

  TempFolder lab_;
  TempFolder work_;
};

// The reference is one agent per target, one at a time. The list names GOOD
// twice over (once in other letters) and once more by its address: the
// sweep leaves the duplicate out and never runs two agents on GOOD at once.
TEST_F(FleetSweepTest, TheDatabaseHoldsWhatAnAgentPerTargetLeaves) {
  AddLabComputer(lab_, "GOOD", "192.0.2.1");
  AddLabComputer(lab_, "NOWMI", "192.0.2.2", R"({"wmi": false})");
  AddLabComputer(lab_, "NOREG", "192.0.2.3", R"({"registry": false})");
  AddLabComputer(lab_, "SILENT", "192.0.2.4", R"({"echo": "timeout"})");
  AddLabComputer(lab_, "FAR", "192.0.2.5", R"({"echo": 11003})");
  const std::vector<std::string> targets = {"GOOD",   "NOWMI", "192.0.2.3", "SILENT", "FAR",
                                            "UNKNOWN", "good",  "192.0.2.1"};
  const auto swept = work_.path() / "swept.json";
  const auto reference = work_.path() / "reference.json";
  std::vector<std::string> args = {"--jobs", "4", "--report", swept.string(), Db("swept.db")};
  args.insert(args.end(), targets.begin(), targets.end());
  const FleetResult sweep = RunFleet(args, work_.path(), LabEnv());
  args = {"--agent-per-target", "--jobs", "1", "--report", reference.string(), Db("reference.db")};
  args.insert(args.end(), targets.begin(), targets.end());
  const FleetResult per_target = RunFleet(args, work_.path(), LabEnv());

  const std::multiset<std::string> stored = StoredRows(work_.path() / "swept.db");
  EXPECT_EQ(stored, StoredRows(work_.path() / "reference.db"));
  EXPECT_EQ(std::count_if(stored.begin(), stored.end(), [](const std::string& row) { return row.starts_with("Asset|GOOD|"); }), 1);
  EXPECT_EQ(std::count_if(stored.begin(), stored.end(), [](const std::string& row) { return row.starts_with("LastAccess|"); }), 7);

  EXPECT_EQ(sweep.exit_status, 1) << sweep.out << sweep.err;  // NOREG answered but was not stored
  EXPECT_EQ(per_target.exit_status, 1) << per_target.out << per_target.err;
  const std::map<std::string, std::string> expected = {
      {"GOOD", "stored"},         {"NOWMI", "stored"},         {"192.0.2.3", "access refused"},
      {"SILENT", "not answering"}, {"FAR", "not answering"},   {"UNKNOWN", "unknown name"},
      {"192.0.2.1", "stored"}};
  EXPECT_EQ(Outcomes(swept), expected);
  std::map<std::string, std::string> without_lookup = expected;
  without_lookup["UNKNOWN"] = "not answering";  // an agent cannot tell
  EXPECT_EQ(Outcomes(reference), without_lookup);
  EXPECT_NE(sweep.out.find("  unknown name: 1\n"), std::string::npos) << sweep.out;
  EXPECT_NE(sweep.out.find("unknown name   UNKNOWN"), std::string::npos) << sweep.out;  // listed
  EXPECT_NE(sweep.out.find("  duplicate targets left out: 1\n"), std::string::npos) << sweep.out;
}

// A contact that cannot be recorded fails as the agent's own record would,
// with its log line, in the report and in the usual log.
TEST_F(FleetSweepTest, AContactThatCannotBeRecordedFailsAsTheAgentsWould) {
  AddLabComputer(lab_, "SILENT", "192.0.2.4", R"({"echo": "timeout"})");
  // The runner's check before the sweep connects; then every new LastAccess
  // row is refused.
  const auto file = work_.path() / "refusing.db";
  const std::string unusable = "sqlite:" + file.string();
  ASSERT_TRUE(ConnectEngine(unusable).ok());
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
  EXPECT_EQ(sqlite3_exec(db, "CREATE TRIGGER refuse BEFORE INSERT ON LastAccess BEGIN "
                             "SELECT RAISE(ABORT, 'refused'); END",
                         nullptr, nullptr, nullptr),
            SQLITE_OK);
  sqlite3_close(db);
  std::map<std::string, std::pair<std::string, std::string>> reports[2];
  for (int per_target = 0; per_target < 2; ++per_target) {
    const auto report = work_.path() / "r.json";
    std::vector<std::string> args = {"--report", report.string(), unusable, "SILENT"};
    if (per_target) args.insert(args.begin(), "--agent-per-target");
    const FleetResult result = RunFleet(args, work_.path(), LabEnv());
    EXPECT_EQ(result.exit_status, 1) << result.out << result.err;
    const nlohmann::json rows = ReadJson(report)["targets"];
    for (const nlohmann::json& row : rows) {
      reports[per_target][row["target"]] = {row["outcome"], row["detail"]};
    }
  }
  EXPECT_EQ(reports[0], reports[1]);
  EXPECT_EQ(reports[0]["SILENT"].first, "failed");
  EXPECT_TRUE(reports[0]["SILENT"].second.starts_with("Error updating last access database,SILENT:"))
      << reports[0]["SILENT"].second;
  const std::vector<std::string> log = ReadCrLfLines(work_.path() / "temp" / "Kelvarn.log");
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& line) { return line.find(",SILENT:") != std::string::npos; }),
            2);
}

// Ctrl-C while silent targets wait for their echoes and a slow agent works:
// every contact recorded so far stays, each reported, and nothing is
// written for the rest.
TEST_F(FleetSweepTest, AnInterruptedSweepKeepsWhatItRecorded) {
  AddLabComputer(lab_, "SLOW", "192.0.2.1", R"({"latency_ms": 5000})");
  std::vector<std::string> args = {"--plain", "--rate", "100", "--report", (work_.path() / "r.json").string(),
                                   Db("inventory.db"), "SLOW"};
  for (int i = 0; i < 150; ++i) {
    const std::string name = "Q" + std::to_string(i);
    lab_.Write(name + ".json", R"({"names": [")" + name + R"("], "address": "10.9.0.)" + std::to_string(i + 1) +
                                   R"(", "echo": "timeout"})");
    args.push_back(name);
  }
  FleetProcess fleet(args, work_.path(), LabEnv());
  // Until the first silent target has been recorded.
  for (int i = 0; i < 100; ++i) {
    std::ifstream out(work_.path() / "fleet.out");
    if (std::string(std::istreambuf_iterator<char>(out), {}).find("not answering") != std::string::npos) break;
    std::this_thread::sleep_for(50ms);
  }
  ::kill(fleet.pid(), SIGINT);
  const FleetResult result = fleet.Wait();
  EXPECT_EQ(result.exit_status, 1) << result.out << result.err;
  EXPECT_NE(result.out.find("(interrupted)"), std::string::npos) << result.out;

  std::set<std::string> recorded;
  size_t not_started = 0;
  for (const auto& [target, outcome] : Outcomes(work_.path() / "r.json")) {
    if (outcome == "not answering") recorded.insert(target);
    not_started += outcome == "not started" ? 1 : 0;
  }
  EXPECT_EQ(Outcomes(work_.path() / "r.json")["SLOW"], "interrupted");
  EXPECT_FALSE(recorded.empty());
  EXPECT_GT(not_started, 0u);
  std::set<std::string> rows;
  for (const std::string& row : StoredRows(work_.path() / "inventory.db")) {
    if (row.starts_with("LastAccess|Q")) rows.insert(row.substr(11, row.find('|', 11) - 11));
    EXPECT_FALSE(row.starts_with("Asset|")) << row;  // the slow agent stored nothing
  }
  EXPECT_EQ(rows, recorded);
}

}  // namespace
}  // namespace hostlore::test
