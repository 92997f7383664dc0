// Finding the logged-on user in the registry.
#include "collect/logged_on_user.h"

#include "scan/stage_failure.h"
#include "support/collector_fixture.h"

namespace hostlore::test {
namespace {

std::string WithHives(const std::string& hives, const std::string& winlogon,
                      const std::string& version = "5.1") {
  return R"({"names": ["PC042"], "address": "192.0.2.42", "registry": {
      "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion": {"CurrentVersion": ")" + version + R"("},
      "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon": {)" + winlogon + "}" +
         hives + "}}";
}

constexpr const char* kOfficeJsmith = R"("DefaultDomainName": "OFFICE", "DefaultUserName": "jsmith")";

class LoggedOnUserTest : public CollectorTest {};

TEST_F(LoggedOnUserTest, ALogonUserNeedsAClassesHiveWithExactCase) {
  Lab(WithHives(R"(, "HKU\\.DEFAULT": {}, "HKU\\S-1-5-21-9_Classes": {})", kOfficeJsmith));
  EXPECT_EQ(GetLogonUser(*state_, "192.0.2.42"), "OFFICE\\jsmith");
  EXPECT_EQ(state_->LoggedOnUser, "OFFICE\\jsmith");

  Lab(WithHives(R"(, "HKU\\.DEFAULT": {}, "HKU\\S-1-5-21-9_classes": {})", kOfficeJsmith));
  state_->LoggedOnUser = "before";
  EXPECT_EQ(GetLogonUser(*state_, "192.0.2.42"), "");
  EXPECT_EQ(state_->LoggedOnUser, "before");
}

TEST_F(LoggedOnUserTest, AProfileUserIsAnyHiveButDefault) {
  Lab(WithHives(R"(, "HKU\\DEFAULT": {}, "HKU\\.DEFAULT": {})", kOfficeJsmith, "4.0"));
  EXPECT_EQ(GetProfileUser(*state_, "192.0.2.42"), "OFFICE\\jsmith");
  Lab(WithHives(R"(, "HKU\\DEFAULTS": {})", kOfficeJsmith, "4.0"));
  EXPECT_EQ(GetProfileUser(*state_, "192.0.2.42"), "");
}

TEST_F(LoggedOnUserTest, GetUserChoosesTheLookupByVersion) {
  // Only ".DEFAULT": the profile lookup finds a user, the logon lookup none.
  Lab(WithHives(R"(, "HKU\\.DEFAULT": {})", kOfficeJsmith, "4.0"));
  GetUser(*state_);
  EXPECT_EQ(state_->LoggedOnUser, "OFFICE\\jsmith");
  Lab(WithHives(R"(, "HKU\\.DEFAULT": {})", kOfficeJsmith, "5.0"));
  GetUser(*state_);
  EXPECT_EQ(state_->LoggedOnUser, "");
}

TEST_F(LoggedOnUserTest, UnreadableWinlogonValuesLeaveTheBackslash) {
  Lab(WithHives(R"(, "HKU\\x_Classes": {})", ""));
  EXPECT_EQ(GetLogonUser(*state_, "192.0.2.42"), "\\");
  Lab(WithHives(R"(, "HKU\\x_Classes": {})", R"("DefaultUserName": "bob")"));
  EXPECT_EQ(GetLogonUser(*state_, "192.0.2.42"), "\\bob");
}

TEST_F(LoggedOnUserTest, AnUnreachableRegistryFindsNobody) {
  Lab(R"({"names": ["PC042"], "address": "192.0.2.42"})");
  EXPECT_EQ(GetLogonUser(*state_, "192.0.2.42"), "");
  EXPECT_EQ(GetProfileUser(*state_, "192.0.2.42"), "");
}

TEST_F(LoggedOnUserTest, MoreHivesThanTheListHoldsFailTheLookup) {
  std::string hives;
  for (int i = 0; i < 1001; ++i) hives += ", \"HKU\\\\S-" + std::to_string(i) + "\": {}";
  Lab(WithHives(hives, kOfficeJsmith));
  EXPECT_NO_THROW(GetLogonUser(*state_, "192.0.2.42"));
  EXPECT_EQ(state_->UserHiveNames[1000], "S-1000");
  Lab(WithHives(hives + R"(, "HKU\\S-1001_Classes": {})", kOfficeJsmith));
  EXPECT_THROW(GetLogonUser(*state_, "192.0.2.42"), StageFailure);
}

}  // namespace
}  // namespace hostlore::test
