// The progress line: its fields, its transport, and what untrusted text in it
// may not do.
#include "diag/report_progress.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>

#include "scan/scan_state.h"
#include "support/test_support.h"

namespace hostlore::test {
namespace {

using Lines = std::vector<std::string>;

class ReportProgressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state_.ProgressWindow = capture_.write_fd();
    state_.TargetName = "PC042";
    state_.CallerIndex = 7;
  }
  ProgressCapture capture_;
  ScanState state_;
};

TEST_F(ReportProgressTest, AppendsTheCallerIndexToTheStepLine) {
  ReportStep(state_, "2");
  state_.TargetAddress = "10.1.2.30";
  state_.CallerIndex = -1;
  ReportStep(state_, "51.3333333333333");
  ReportFailureComplete(state_);
  EXPECT_EQ(capture_.Lines(), (Lines{"PC042,2,,7", "PC042,51.3333333333333,10.1.2.30,-1",
                                     "PC042,Complete,10.1.2.30,-1"}));
  EXPECT_TRUE(state_.FailureReported);
}

TEST_F(ReportProgressTest, LineBreaksInsideAValueBecomeBlanks) {
  state_.TargetName = "PC\r\n042\n";
  ReportStep(state_, "4");
  EXPECT_EQ(capture_.Lines(), (Lines{"PC  042 ,4,,7"}));
}

TEST_F(ReportProgressTest, AnOverlongNameIsCutButTheLastFieldsSurvive) {
  state_.TargetName = std::string(5000, 'x') + "\xC3\xA9";  // ends in a two-byte letter
  state_.TargetAddress = "10.0.0.1";
  ReportStep(state_, "Complete");
  const Lines lines = capture_.Lines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_LE(lines[0].size(), kMaxProgressLine);
  EXPECT_TRUE(lines[0].ends_with(",Complete,10.0.0.1,7")) << lines[0].substr(4000);
}

TEST_F(ReportProgressTest, NoChannelAClosedChannelOrABrokenPipeDropTheLine) {
  std::signal(SIGPIPE, SIG_IGN);  // as the agent's entry does
  for (int fd : {0, -3, 999}) {
    state_.ProgressWindow = fd;
    ReportStep(state_, "2");  // must neither crash nor throw
  }
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  ::close(fds[0]);
  state_.ProgressWindow = fds[1];
  ReportStep(state_, "2");
  ::close(fds[1]);
  SUCCEED();
}

}  // namespace
}  // namespace hostlore::test
