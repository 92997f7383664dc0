// Reading the command line into the scan state, and its failure path.
#include <gtest/gtest.h>

#include "diag/log_error.h"
#include "diag/temp_folder.h"
#include "run/form.h"
#include "scan/process_end.h"
#include "support/agent_fixture.h"

namespace hostlore::test {
namespace {

class FormLoadTest : public AgentFixture {
 protected:
  // Loads only; returns the exit status of a failed load, or -1.
  int Load(const std::string& command_line) {
    ScopedEnv temp("Temp", temp_.path().string());
    state_->CommandLine = command_line;
    try {
      FormLoad(*state_);
    } catch (const ProcessEnd& end) {
      return end.exit_status;
    }
    return -1;
  }
};

TEST_F(FormLoadTest, FillsTheRunControlFields) {
  ASSERT_EQ(Load("1312,PC042,DBSRV,,7"), -1);
  EXPECT_EQ(state_->ProgressWindow, 1312);
  EXPECT_EQ(state_->TargetName, "PC042");
  EXPECT_EQ(state_->SqlServer, "DBSRV");
  EXPECT_EQ(state_->CallerIndex, 7);
  EXPECT_FALSE(state_->UserOnly);
  EXPECT_EQ(state_->ConnectionString,
            "Provider=SQLOLEDB;Data Source=DBSRV;Initial Catalog=BrindleAsset;"
            "Trusted_Connection=yes");
  EXPECT_EQ(state_->TempDir, temp_.path().string());
  EXPECT_EQ(state_->ProcName, "Hostlore.Form_Load");
  EXPECT_EQ(state_->ErrorContext, "1312,PC042,DBSRV,,7");
}

TEST_F(FormLoadTest, UserOnlyIsExactlyLowerCaseDashU) {
  ASSERT_EQ(Load("1,PC042,DBSRV,-u,7"), -1);
  EXPECT_TRUE(state_->UserOnly);
  state_ = std::make_unique<ScanState>();
  ASSERT_EQ(Load("1,PC042,DBSRV,-U,7"), -1);
  EXPECT_FALSE(state_->UserOnly);
  state_ = std::make_unique<ScanState>();
  ASSERT_EQ(Load("1,PC042,DBSRV, -u,7"), -1);
  EXPECT_FALSE(state_->UserOnly);
}

TEST_F(FormLoadTest, KeepsBlanksAndIgnoresFieldsAfterTheFifth) {
  ASSERT_EQ(Load("1312, PC042,DBSRV ,,7,extra,more"), -1);
  EXPECT_EQ(state_->TargetName, " PC042");
  EXPECT_EQ(state_->SqlServer, "DBSRV ");
  EXPECT_EQ(state_->CallerIndex, 7);
}

TEST_F(FormLoadTest, PreparesTheListViewColumns) {
  ASSERT_EQ(Load("1,PC042,DBSRV,,7"), -1);
  const ListView& view = state_->Lists.ListView1;
  ASSERT_EQ(view.Columns.size(), 4u);
  EXPECT_EQ(view.Columns[0].Header, "Program");
  EXPECT_EQ(view.Columns[1].Header, "Version");
  EXPECT_EQ(view.Columns[2].Header, "Location");
  EXPECT_EQ(view.Columns[3].Header, "Product ID");
  EXPECT_FLOAT_EQ(view.Columns[0].Width, 6375.0f / 2);
  EXPECT_FLOAT_EQ(state_->Lists.ListView2.Columns[3].Width, 6135.0f / 3);
  EXPECT_TRUE(view.Rows.empty());
}

TEST_F(FormLoadTest, AnUnreadableCommandLineIsLoggedAndEndsWithStatusTwo) {
  struct Case {
    std::string command_line;
    std::string reason;
  };
  const Case cases[] = {
      {"0,PC042,DBSRV,-u", "field 4 is missing"},
      {"", "field 0 (progress channel): '' is not a decimal number"},
      {"abc,PC042,DBSRV,,7", "field 0 (progress channel): 'abc' is not a decimal number"},
      {"0,PC042,DBSRV,,40000", "field 4 (caller index): 40000 is out of range"},
      {"0,PC042,DBSRV,,7.0", "field 4 (caller index): '7.0' is not a decimal number"},
  };
  for (const Case& c : cases) {
    state_ = std::make_unique<ScanState>();
    std::filesystem::remove(temp_.path() / "Kelvarn.log");
    EXPECT_EQ(Load(c.command_line), kExitCommandLine) << c.command_line;
    const std::vector<std::string> log = LogWithoutTime();
    ASSERT_EQ(log.size(), 1u) << c.command_line;
    const std::string expected_start = "Hostlore.Form_Load," + c.command_line + ":" + c.reason;
    EXPECT_EQ(log[0].substr(0, expected_start.size()), expected_start);
  }
}

TEST_F(FormLoadTest, TheFailedLoadSendsCompleteToTheChannelItAlreadyRead) {
  // Field 0 was read, field 1 not yet stored: an empty name, caller index 0.
  const std::string line = std::to_string(progress_.write_fd()) + ",PC042,DBSRV,,99999";
  EXPECT_EQ(Load(line), kExitCommandLine);
  EXPECT_EQ(Progress(), (std::vector<std::string>{",Complete,,0"}));
}

TEST_F(FormLoadTest, TempDirFallsBackThroughTheLinuxNamesThenTmp) {
  ScopedEnv no_temp("Temp", std::nullopt);
  ScopedEnv no_upper_temp("TEMP", std::nullopt);
  ScopedEnv tmpdir("TMPDIR", "/var/tmp");
  ScopedEnv tmp("TMP", "/tmp/from-tmp");
  state_->CommandLine = "1,PC042,DBSRV,,7";
  FormLoad(*state_);
  EXPECT_EQ(state_->TempDir, "/tmp/from-tmp");

  // Empty counts as unset; none at all: /tmp, not the root of the file system.
  ScopedEnv empty_tmp("TMP", "");
  EXPECT_EQ(ReadTempFolder(), "/var/tmp");
  ScopedEnv no_tmpdir("TMPDIR", std::nullopt);
  FormLoad(*state_);
  EXPECT_EQ(LogFilePath(*state_), "/tmp/Kelvarn.log");
}

}  // namespace
}  // namespace hostlore::test
