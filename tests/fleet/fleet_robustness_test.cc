// Agents that hang, crash or write nonsense, and a fleet interrupted by the
// user: the runner ends them, says so and still prints its summary.
#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <thread>

#include "fleet/fleet_process.h"

namespace hostlore::test {
namespace {

using namespace std::chrono_literals;

// Fake agents (each target gets one: the names resolve nowhere) read the
// command line "FD,TARGET,SERVER,FLAG,INDEX" like the
// real one and answer on descriptor FD.
constexpr const char* kSplitFields =
    "IFS=, read fd target server flag index <<EOF\n$1\nEOF\n"
    "say() { printf '%s\\n' \"$1\" >&$fd; }\n";

class FleetRobustnessTest : public ::testing::Test {
 protected:
  std::filesystem::path Agent(const std::string& body) {
    return WriteScript(work_.path(), "agent", std::string(kSplitFields) + body);
  }
  TempFolder work_;
};

TEST_F(FleetRobustnessTest, AHungAgentIsEndedByTheTimeout) {
  const auto agent = Agent("say \"$target,2,,$index\"\n[ \"$target\" = HANG ] && exec sleep 60\n"
                           "say \"$target,Complete,,$index\"\n");
  const auto report = work_.path() / "r.json";
  const auto start = std::chrono::steady_clock::now();
  const FleetResult result =
      RunFleet({"--agent-per-target", "--agent", agent.string(), "--timeout", "1", "--report", report.string(), "sqlite:x", "OK", "HANG"},
               work_.path());
  EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.out.find("  timed out: 1\n"), std::string::npos) << result.out;
  const nlohmann::json rows = ReadJson(report)["targets"];
  EXPECT_EQ(rows[0]["outcome"], "not answering");
  EXPECT_EQ(rows[1]["outcome"], "timed out");
  EXPECT_GE(rows[1]["duration_s"].get<double>(), 1.0);
}

TEST_F(FleetRobustnessTest, CrashesAndMalformedLinesAreReported) {
  const auto agent = Agent(
      "say 'no commas here'\nsay \"$target,2,,99\"\nsay \"$target,half,,$index\"\n"
      "say \"$target,4,192.0.2.9,$index\"\n"
      "[ \"$target\" = CRASH ] && kill -SEGV $$\nsay \"$target,Complete,192.0.2.9,$index\"\n");
  const auto report = work_.path() / "r.json";
  const FleetResult result =
      RunFleet({"--agent-per-target", "--agent", agent.string(), "--jobs", "1", "--report", report.string(), "sqlite:x", "CRASH", "FINE"},
               work_.path());
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.out.find("crashed        CRASH 192.0.2.9"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("signal 11 (SIGSEGV)"), std::string::npos) << result.out;
  const nlohmann::json written = ReadJson(report);
  EXPECT_EQ(written["targets"][1]["outcome"], "stored");
  // Per agent: the comma-less line, index 99 (no such slot), step "half".
  EXPECT_EQ(written["malformed_lines"], 6);
  EXPECT_NE(result.out.find("malformed progress lines ignored: 6"), std::string::npos) << result.out;
}

TEST_F(FleetRobustnessTest, CtrlCEndsEveryAgentAndStillSummarizes) {
  const auto pids = work_.path() / "pids";
  const auto agent = Agent("echo $$ >> " + pids.string() + "\nsay \"$target,2,,$index\"\nexec sleep 60\n");
  const auto report = work_.path() / "r.json";
  FleetProcess fleet({"--agent-per-target", "--agent", agent.string(), "--jobs", "2", "--report", report.string(), "sqlite:x", "A",
                      "B", "C"},
                     work_.path());
  std::this_thread::sleep_for(700ms);
  ::kill(fleet.pid(), SIGINT);
  const FleetResult result = fleet.Wait();
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.out.find("(interrupted)"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("  interrupted: 2\n"), std::string::npos) << result.out;
  EXPECT_NE(result.out.find("  not started: 1\n"), std::string::npos) << result.out;
  const nlohmann::json rows = ReadJson(report)["targets"];
  EXPECT_EQ(rows[2]["outcome"], "not started");
  std::ifstream in(pids);
  int agents = 0;
  for (pid_t pid; in >> pid; ++agents) {
    EXPECT_NE(::kill(pid, 0), 0) << "agent " << pid << " still runs";
  }
  EXPECT_EQ(agents, 2);
}

}  // namespace
}  // namespace hostlore::test
