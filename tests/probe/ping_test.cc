// The echo stage over the lab's answers.
#include "probe/ping.h"

#include <gtest/gtest.h>

#include "scan/scan_state.h"
#include "scan/stage_failure.h"
#include "support/test_support.h"

namespace hostlore::test {
namespace {

class PingTest : public ::testing::Test {
 protected:
  void Lab(const std::string& json) {
    lab_.Write("pc.json", json);
    Result<Platform> lab = MakeTestLab(lab_.path());
    ASSERT_TRUE(lab.ok()) << lab.status().description();
    state_.platform = std::move(lab).value();
  }
  TempFolder lab_;
  ScanState state_;
};

TEST_F(PingTest, AnAnswerGivesTheDottedAddress) {
  Lab(R"({"names": ["pc042"], "address": "192.168.0.5"})");
  state_.TargetName = "PC042";  // names resolve without regard to case
  Ping(state_);
  EXPECT_TRUE(state_.PingOk);
  EXPECT_EQ(state_.TargetAddress, "192.168.0.5");
}

TEST_F(PingTest, AReplyWithAFailureStatusIsNoAnswer) {
  Lab(R"({"names": ["PC042"], "address": "10.1.2.30", "echo": 11013})");
  state_.TargetName = "PC042";
  Ping(state_);
  EXPECT_FALSE(state_.PingOk);
  EXPECT_EQ(state_.TargetAddress, "");
}

TEST_F(PingTest, ASilentTargetCostsTheFullTwoSecondWait) {
  Lab(R"({"names": ["PC042"], "address": "10.1.2.30", "echo": "timeout"})");
  state_.TargetName = "10.1.2.30";  // the address itself resolves too
  const auto start = std::chrono::steady_clock::now();
  Ping(state_);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1900));
  EXPECT_FALSE(state_.PingOk);
  EXPECT_EQ(state_.TargetAddress, "");
}

TEST_F(PingTest, TheNameLengthLimitCountsCharactersNotBytes) {
  Lab(R"({"names": ["PC042"], "address": "10.1.2.30"})");
  state_.TargetName = std::string(32, 'x');
  for (int i = 0; i < 32; ++i) state_.TargetName += "\xC3\xA9";  // 64 characters, 96 bytes
  EXPECT_NO_THROW(Ping(state_));
  state_.TargetName += "x";
  EXPECT_THROW(Ping(state_), StageFailure);
}

}  // namespace
}  // namespace hostlore::test
