// The lab's share space.
#include <gtest/gtest.h>

#include "platform/lab/lab_fixture.h"

namespace hostlore::test {
namespace {

using LabSharesTest = LabTest;

TEST_F(LabSharesTest, AListedShareGivesItsCountsWhateverItsCase) {
  Platform lab = Lab(R"({"names": ["PC042"], "address": "192.0.2.42",
      "shares": {"C$": {"total": 10000000000, "free": 2500000000}, "d$": {"total": 5, "free": 0}}})");
  Result<DiskSpace> c = lab.shares->FreeSpace("pc042", "c$");
  ASSERT_TRUE(c.ok());
  EXPECT_EQ(c->total, 10000000000u);
  EXPECT_EQ(c->total_free, 2500000000u);
  EXPECT_EQ(c->free_to_caller, 2500000000u);
  Result<DiskSpace> d = lab.shares->FreeSpace("192.0.2.42", "D$");
  ASSERT_TRUE(d.ok());
  EXPECT_EQ(d->total, 5u);
}

TEST_F(LabSharesTest, AnUnlistedShareCannotBeReached) {
  Platform lab = Lab(R"({"names": ["PC042"], "address": "192.0.2.42",
      "shares": {"C$": {"total": 1, "free": 1}}})");
  for (const auto& [host, share] : {std::pair{"PC042", "e$"}, std::pair{"PC043", "C$"}}) {
    Result<DiskSpace> space = lab.shares->FreeSpace(host, share);
    ASSERT_FALSE(space.ok()) << host << share;
    EXPECT_EQ(space.status().number(), win32::kBadNetPath);
  }
  Platform bare = Lab(R"({"address": "192.0.2.42"})");
  EXPECT_EQ(bare.shares->FreeSpace("192.0.2.42", "C$").status().number(), win32::kBadNetPath);
}

}  // namespace
}  // namespace hostlore::test
