// The error log: line format, appending, and many writers at once.
#include "diag/log_error.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <set>

#include "diag/time_stamp.h"
#include "scan/scan_state.h"
#include "support/test_support.h"

namespace hostlore::test {
namespace {

class LogErrorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    state_.TempDir = folder_.path().string();
    state_.platform.clock = std::make_unique<FixedClock>(LocalTime(2003, 5, 29, 14, 7, 9));
  }
  TempFolder folder_;
  ScanState state_;
};

TEST_F(LogErrorTest, WritesDateTimeWhatAndDetailAsOneCrLfLine) {
  LogError(state_, "Hostlore.Scan", "PC042:X");
  LogError(state_, "Unable to access WMI", "PC042:a, b: c");
  EXPECT_EQ(ReadCrLfLines(folder_.path() / "Kelvarn.log"),
            (std::vector<std::string>{"2003/05/29 14:07:09,Hostlore.Scan,PC042:X",
                                      "2003/05/29 14:07:09,Unable to access WMI,PC042:a, b: c"}));
}

TEST_F(LogErrorTest, KeepsEachEntryOnOneLine) {
  LogError(state_, "what\r\n", "line one\nline two");
  EXPECT_EQ(ReadCrLfLines(folder_.path() / "Kelvarn.log"),
            (std::vector<std::string>{"2003/05/29 14:07:09,what  ,line one line two"}));
}

TEST_F(LogErrorTest, AnUnwritableFolderLosesTheLineQuietly) {
  state_.TempDir = (folder_.path() / "does" / "not" / "exist").string();
  LogError(state_, "what", "detail");
  EXPECT_FALSE(std::filesystem::exists(state_.TempDir));
}

TEST(TimeStampTest, PadsEveryFieldToItsWidth) {
  ScopedEnv tz("TZ", "UTC");
  ::tzset();
  EXPECT_EQ(FormatTimeStamp(1054217229), "2003/05/29 14:07:09");
  EXPECT_EQ(FormatTimeStamp(1041476645), "2003/01/02 03:04:05");
  EXPECT_EQ(FormatDate(1041476645), "2003/01/02");
}

TEST_F(LogErrorTest, ConcurrentAgentsNeverTearEachOthersLines) {
  constexpr int kWriters = 8;
  constexpr int kLinesEach = 300;
  std::vector<pid_t> children;
  for (int w = 0; w < kWriters; ++w) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      const std::string detail = "writer" + std::to_string(w) + ":" + std::string(300, 'a' + w);
      for (int i = 0; i < kLinesEach; ++i) LogError(state_, "Concurrent", detail);
      ::_exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) ::waitpid(pid, nullptr, 0);

  const auto lines = ReadCrLfLines(folder_.path() / "Kelvarn.log");
  ASSERT_EQ(lines.size(), static_cast<size_t>(kWriters * kLinesEach));
  std::set<std::string> distinct;
  for (const std::string& line : lines) distinct.insert(line.substr(20));
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kWriters));
}

}  // namespace
}  // namespace hostlore::test
