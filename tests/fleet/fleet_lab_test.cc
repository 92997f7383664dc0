// hostlore-fleet with the real agent over lab computers.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <set>

#include "fleet/fleet_lab.h"
#include "fleet/fleet_process.h"

namespace hostlore::test {
namespace {

class FleetLabTest : public ::testing::Test {
 protected:
  std::map<std::string, std::string> LabEnv() const { return {{"HOSTLORE_LAB", lab_.path().string()}}; }
  std::string Db() const { return "sqlite:" + (work_.path() / "inventory.db").string(); }

  TempFolder lab_;
  TempFolder work_;
};

TEST_F(FleetLabTest, AMixedFleetEndsWithTheRightSummaryAndReport) {
  AddLabComputer(lab_, "GOOD", "192.0.2.1");
  AddLabComputer(lab_, "NOWMI", "192.0.2.2", R"({"wmi": false})");
  AddLabComputer(lab_, "NOREG", "192.0.2.3", R"({"registry": false})");
  AddLabComputer(lab_, "SILENT", "192.0.2.4", R"({"echo": "timeout"})");
  const auto json = work_.path() / "report.json";
  const auto csv = work_.path() / "report.csv";
  const std::vector<std::string> targets = {"good", "NOWMI", "192.0.2.3", "SILENT", "UNKNOWN"};
  std::vector<std::string> args = {"--jobs", "5", "--report", json.string(), Db()};
  args.insert(args.end(), targets.begin(), targets.end());
  const FleetResult result = RunFleet(args, work_.path(), LabEnv());

  EXPECT_EQ(result.exit_status, 1) << result.out << result.err;  // NOREG answered but was not stored
  EXPECT_NE(result.out.find("Summary: 5 targets"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("  stored: 2\n"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("  not answering: 1\n"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("  unknown name: 1\n"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("  access refused: 1\n"), std::string::npos) << result.out;

  const nlohmann::json report = ReadJson(json);
  ASSERT_EQ(report["targets"].size(), 5u);
  const std::vector<std::vector<std::string>> expected = {
      {"good", "GOOD", "192.0.2.1", "stored", ""},
      {"NOWMI", "NOWMI", "192.0.2.2", "stored", "Unable to access WMI,NOWMI:"},
      {"192.0.2.3", "192.0.2.3", "192.0.2.3", "access refused",
       "Insufficient access or error accessing PC ,192.0.2.3:The network path was not found."},
      {"SILENT", "SILENT", "", "not answering", ""},
      {"UNKNOWN", "UNKNOWN", "", "unknown name", ""},
  };
  for (size_t i = 0; i < expected.size(); ++i) {
    const nlohmann::json& row = report["targets"][i];
    EXPECT_EQ(row["target"], expected[i][0]);
    EXPECT_EQ(row["name"], expected[i][1]) << row;
    EXPECT_EQ(row["address"], expected[i][2]) << row;
    EXPECT_EQ(row["outcome"], expected[i][3]) << row;
    EXPECT_TRUE(row["detail"].get<std::string>().starts_with(expected[i][4])) << row;
  }
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_GE(report["targets"][i]["duration_s"].get<double>(), 0.2);  // the agent's start-up pause at least
  }
  EXPECT_GE(report["targets"][3]["duration_s"].get<double>(), 2.0);  // the full echo wait
  EXPECT_GT(report["targets"][0]["peak_rss_kb"].get<long>(), 0);
  EXPECT_NE(result.out.find("  largest agent: "), std::string::npos) << result.out;
  EXPECT_EQ(report["malformed_lines"], 0);

  // The same fleet as CSV, and the agents' log lines reach the usual log.
  args[3] = csv.string();
  RunFleet(args, work_.path(), LabEnv());
  std::ifstream in(csv);
  std::string header, first;
  std::getline(in, header);
  std::getline(in, first);
  EXPECT_EQ(header, "target,name,address,outcome,detail,duration_s,peak_rss_kb\r");
  EXPECT_TRUE(first.starts_with("good,GOOD,192.0.2.1,stored,,")) << first;
  const std::vector<std::string> log = ReadCrLfLines(work_.path() / "temp" / "Kelvarn.log");
  EXPECT_EQ(std::count_if(log.begin(), log.end(),
                          [](const std::string& line) { return line.find("accessing PC ,192.0.2.3:") != std::string::npos; }),
            2);
}

// One job slot serves both agents in turn: the second must not inherit the
// first one's log lines, nor pass them to the usual log a second time.
TEST_F(FleetLabTest, AReusedSlotCarriesNoLogLineOver) {
  AddLabComputer(lab_, "NOREG", "192.0.2.3", R"({"registry": false})");
  AddLabComputer(lab_, "GOOD", "192.0.2.1");
  const auto json = work_.path() / "report.json";
  const FleetResult result =
      RunFleet({"--jobs", "1", "--report", json.string(), Db(), "NOREG", "GOOD"}, work_.path(), LabEnv());
  const nlohmann::json report = ReadJson(json);
  ASSERT_EQ(report["targets"].size(), 2u) << result.out << result.err;
  EXPECT_EQ(report["targets"][0]["outcome"], "access refused");
  EXPECT_EQ(report["targets"][1]["outcome"], "stored");
  EXPECT_EQ(report["targets"][1]["detail"], "");
  EXPECT_EQ(ReadCrLfLines(work_.path() / "temp" / "Kelvarn.log").size(), 1u);
}

// A wrapper around the real agent marks each start and end in one file, in
// the order they happen, so the count of agents alive at once can be replayed.
TEST_F(FleetLabTest, JobsAreNeverExceeded) {
  const auto marks = work_.path() / "marks";
  const auto agent = WriteScript(work_.path(), "agent",
                                 "echo + >> " + marks.string() + "\nsleep 0.2\n" HOSTLORE_AGENT_PATH
                                 " \"$@\"\nstatus=$?\necho - >> " + marks.string() + "\nexit $status\n");
  std::vector<std::string> args = {"--agent-per-target", "--jobs", "3", "--agent", agent.string(), Db()};
  for (int i = 0; i < 10; ++i) args.push_back("PC" + std::to_string(i));
  const FleetResult result = RunFleet(args, work_.path(), LabEnv());
  EXPECT_EQ(result.exit_status, 0) << result.out << result.err;
  EXPECT_NE(result.out.find("  not answering: 10\n"), std::string::npos) << result.out;

  std::ifstream in(marks);
  int alive = 0, most = 0, started = 0;
  for (std::string mark; std::getline(in, mark);) {
    alive += mark == "+" ? 1 : -1;
    started += mark == "+" ? 1 : 0;
    most = std::max(most, alive);
  }
  EXPECT_EQ(started, 10);
  EXPECT_EQ(most, 3);
}

TEST_F(FleetLabTest, ShardsOfOneListScanEachTargetOnce) {
  std::ofstream list(work_.path() / "targets.txt");
  for (int i = 0; i < 11; ++i) list << "PC" << i << "  # computer " << i << "\n";
  list.close();
  std::multiset<std::string> scanned;
  for (int shard = 0; shard < 3; ++shard) {
    const auto report = work_.path() / ("shard" + std::to_string(shard) + ".json");
    RunFleet({"--shard", std::to_string(shard) + "/3", "--report", report.string(), Db(),
              "@" + (work_.path() / "targets.txt").string()},
             work_.path(), LabEnv());
    const nlohmann::json written = ReadJson(report);
    for (const nlohmann::json& row : written["targets"]) scanned.insert(row["target"].get<std::string>());
  }
  std::multiset<std::string> all;
  for (int i = 0; i < 11; ++i) all.insert("PC" + std::to_string(i));
  EXPECT_EQ(scanned, all);
}

TEST_F(FleetLabTest, UnusableCommandLinesExitWithTwo) {
  FleetResult result = RunFleet({"--jobs", "x", Db(), "PC1"}, work_.path());
  EXPECT_EQ(result.exit_status, 2);
  EXPECT_NE(result.err.find("--jobs \"x\""), std::string::npos) << result.err;
  result = RunFleet({Db(), "10.0.0.0/8"}, work_.path());
  EXPECT_EQ(result.exit_status, 2);
  result = RunFleet({"--agent", "/nonexistent/hostlore", Db(), "PC1"}, work_.path());
  EXPECT_EQ(result.exit_status, 2);
  EXPECT_NE(result.err.find("/nonexistent/hostlore"), std::string::npos) << result.err;
}

}  // namespace
}  // namespace hostlore::test
