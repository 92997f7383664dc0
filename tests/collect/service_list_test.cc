// The service list and its two ways of telling a failure.
#include "collect/service_list.h"

#include "support/collector_fixture.h"

namespace hostlore::test {
namespace {

std::string WithServices(const std::string& services) {
  return R"({"names": ["PC042"], "address": "192.0.2.42", "services": )" + services + "}";
}

class ServiceListTest : public CollectorTest {};

TEST_F(ServiceListTest, JoinsNamesInEnumerationOrderSkippingEmptyOnes) {
  Lab(WithServices(R"(["Alerter", "", "Browser", "Spooler"])"));
  ListServices(*state_, ServiceReport::kLog);
  EXPECT_EQ(state_->ServicesList, "Alerter^Browser^Spooler");
  EXPECT_TRUE(Log().empty());
}

TEST_F(ServiceListTest, ARefusedManagerIsSilent) {
  Lab(WithServices("false"));
  ::testing::internal::CaptureStderr();
  ListServices(*state_, ServiceReport::kMessageBox);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(state_->ServicesList, "");
  EXPECT_TRUE(Log().empty());
}

TEST_F(ServiceListTest, NoServicesAtAllIsFailureReportA) {
  Lab(WithServices("[]"));
  state_->LastFailure = {true, 5, "earlier failure"};
  ListServices(*state_, ServiceReport::kLog);
  EXPECT_EQ(Log(), (std::vector<std::string>{"Error listing services,PC042:earlier failure"}));
  EXPECT_EQ(state_->ServicesList, "");

  ::testing::internal::CaptureStderr();
  ListServices(*state_, ServiceReport::kMessageBox);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "LastDLLError = 0\n");
}

TEST_F(ServiceListTest, ASizeQueryErrorIsReportedWithItsCode) {
  Lab(WithServices(R"({"error": 1722})"));
  ::testing::internal::CaptureStderr();
  ListServices(*state_, ServiceReport::kMessageBox);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "LastDLLError = 1722\n");
  EXPECT_EQ(state_->ServicesList, "");
  EXPECT_FALSE(state_->FailureReported);  // a report, not a failure path
}

TEST_F(ServiceListTest, OverlongNamesAreCutAtTheNameBuffer) {
  const std::string long_name(300, 'x');
  Lab(WithServices("[\"" + long_name + "\", \"Zoë\"]"));
  ListServices(*state_, ServiceReport::kLog);
  EXPECT_EQ(state_->ServicesList, std::string(250, 'x') + "^Zoë");
}

}  // namespace
}  // namespace hostlore::test
