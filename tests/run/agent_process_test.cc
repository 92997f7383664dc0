// The agent as a process: its command-line text, its progress channel, its
// log file and its exit status.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <regex>

#include "support/agent_fixture.h"
#include "support/test_support.h"
#include "util/standard_options.h"

namespace hostlore::test {
namespace {

class AgentProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { lab_.Write("pc042.json", Pc042Json()); }
  AgentProcessResult RunAgent(const std::string& command_line) {
    return RunAgentProcess(command_line, temp_.path(), {{"HOSTLORE_LAB", lab_.path().string()}});
  }
  std::string Db() const { return "sqlite:" + (temp_.path() / "hostlore.db").string(); }
  TempFolder lab_;
  TempFolder temp_;
};

TEST_F(AgentProcessTest, ProgressChannelOneIsStandardOutput) {
  const AgentProcessResult run = RunAgent("1,PC042," + Db() + ",,3");
  EXPECT_EQ(run.exit_status, 0);
  ASSERT_FALSE(run.progress.empty());
  EXPECT_EQ(run.progress.front(), "PC042,2,,3");
  EXPECT_EQ(run.progress.back(), "PC042,Complete,192.0.2.42,3");
}

TEST_F(AgentProcessTest, AClosedOrZeroChannelDropsTheLinesAndTheRunGoesOn) {
  for (const char* channel : {"0", "57", "-4"}) {
    const AgentProcessResult run = RunAgent(std::string(channel) + ",PC042," + Db() + ",,3");
    EXPECT_EQ(run.exit_status, 0) << channel;
    EXPECT_TRUE(run.progress.empty()) << channel;
  }
}

// A channel number that the caller never opened is free for the agent's own
// files (SQLite takes the lowest free numbers for its database and log): it
// is taken as closed for the whole run, and the database stays a database.
TEST_F(AgentProcessTest, AChannelNeverOpenedIsNeverWrittenIntoALaterFile) {
  for (const char* channel : {"3", "4"}) {
    for (int run = 0; run < 2; ++run) {
      const AgentProcessResult result = RunAgent(std::string(channel) + ",PC042," + Db() + ",,1");
      EXPECT_EQ(result.exit_status, 0) << channel;
      EXPECT_EQ(result.log, std::vector<std::string>{}) << channel;
    }
    for (const char* file : {"hostlore.db", "hostlore.db-wal"}) {
      std::ifstream in(temp_.path() / file, std::ios::binary);
      const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
      EXPECT_EQ(bytes.find("PC042,"), std::string::npos) << channel << " " << file;
    }
  }
}

TEST_F(AgentProcessTest, ExitStatusTellsCleanFailedAndUnreadableRunsApart) {
  EXPECT_EQ(RunAgent("1,NOSUCHPC," + Db() + ",,3").exit_status, 0);
  lab_.Write("pc042.json", R"({"names": ["PC042"], "address": "192.0.2.42"})");
  EXPECT_EQ(RunAgent("1,PC042," + Db() + ",,3").exit_status, 1);
  EXPECT_EQ(RunAgent("1,PC042," + Db() + ",-u").exit_status, 2);
}

TEST_F(AgentProcessTest, HelpVersionAndTheUsageLineAreForPeople) {
  const AgentProcessResult help = RunAgent("--help");
  EXPECT_EQ(help.exit_status, 0);
  ASSERT_FALSE(help.progress.empty());
  EXPECT_EQ(help.progress.front(), "Usage: hostlore PROGRESS_FD,TARGET,SERVER,[-u],CALLER_INDEX");
  const AgentProcessResult version = RunAgent("--version");
  EXPECT_EQ(version.exit_status, 0);
  EXPECT_EQ(version.progress, std::vector<std::string>{"hostlore " + std::string(ProgramVersion())});
  EXPECT_TRUE(help.log.empty() && version.log.empty() && help.stderr_text.empty());

  // Anything else, "--help" among other words included, is a command line
  // that cannot be read: logged as ever, and one line for the person.
  for (const std::string& line : {std::string("--help me"), std::string("1,PC042,") + Db() + ",-u"}) {
    const AgentProcessResult run = RunAgent(line);
    EXPECT_EQ(run.exit_status, 2) << line;
    EXPECT_EQ(run.stderr_text, "usage: hostlore PROGRESS_FD,TARGET,SERVER,[-u],CALLER_INDEX "
                               "(hostlore --help explains; why: " +
                                   (temp_.path() / "Kelvarn.log").string() + ")\n");
    ASSERT_FALSE(run.log.empty());
    EXPECT_NE(run.log.back().find(",Hostlore.Form_Load," + line + ":field "), std::string::npos)
        << run.log.back();
  }
}

TEST_F(AgentProcessTest, LogLinesAreDatedCrLfLinesAppendedInOrder) {
  lab_.Write("pc042.json", R"({"names": ["PC042"], "address": "192.0.2.42"})");
  RunAgent("1,PC042," + Db() + ",,3");
  RunAgent("1,PC042," + Db() + ",,x");
  const std::vector<std::string>& log = ReadCrLfLines(temp_.path() / "Kelvarn.log");
  ASSERT_EQ(log.size(), 2u);
  const std::regex dated(R"(\d{4}/\d{2}/\d{2} \d{2}:\d{2}:\d{2},.*)");
  EXPECT_TRUE(std::regex_match(log[0], dated)) << log[0];
  EXPECT_EQ(log[0].substr(20),
            "Insufficient access or error accessing PC ,PC042:The network path was not found.");
  EXPECT_EQ(log[1].substr(20).rfind("Hostlore.Form_Load,1,PC042," + Db() + ",,x:field 4 (caller index)", 0), 0u)
      << log[1];
}

}  // namespace
}  // namespace hostlore::test
