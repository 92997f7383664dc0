// The lab's service control manager: the two-call sizing and its failures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/lab/lab_fixture.h"

namespace hostlore::test {
namespace {

using LabServicesTest = LabTest;

std::unique_ptr<ServiceControlManager> OpenOrNull(Platform& lab) {
  auto manager = lab.services->Open("192.0.2.42");
  return manager.ok() ? std::move(manager).value() : nullptr;
}

TEST_F(LabServicesTest, TheSizeCountsARecordAndTheNamePerService) {
  Platform lab = Lab(R"({"address": "192.0.2.42", "services": ["Alerter", "", "Tâche"]})");
  auto manager = OpenOrNull(lab);
  ASSERT_NE(manager, nullptr);
  const ServiceSizeQuery size = manager->QuerySize();
  EXPECT_EQ(size.error, win32::kMoreData);
  // 36-byte records; names in UTF-8 ("â" is two bytes) with their NUL.
  const uint32_t needed = (36 + 7 + 1) + (36 + 0 + 1) + (36 + 6 + 1);
  EXPECT_EQ(size.bytes_needed, needed);

  Result<std::vector<std::string>> names = manager->ListDisplayNames(needed);
  ASSERT_TRUE(names.ok());
  EXPECT_EQ(names.value(), (std::vector<std::string>{"Alerter", "", "Tâche"}));

  Result<std::vector<std::string>> short_buffer = manager->ListDisplayNames(needed - 1);
  ASSERT_FALSE(short_buffer.ok());
  EXPECT_EQ(short_buffer.status().number(), win32::kMoreData);
}

TEST_F(LabServicesTest, NoServiceEndsTheSizeQueryWithoutMoreData) {
  Platform lab = Lab(R"({"address": "192.0.2.42", "services": []})");
  auto manager = OpenOrNull(lab);
  ASSERT_NE(manager, nullptr);
  const ServiceSizeQuery size = manager->QuerySize();
  EXPECT_EQ(size.error, 0u);
  EXPECT_EQ(size.bytes_needed, 0u);
  Result<std::vector<std::string>> names = manager->ListDisplayNames(0);
  ASSERT_TRUE(names.ok());
  EXPECT_TRUE(names.value().empty());
}

TEST_F(LabServicesTest, AnErrorCodeEndsBothCalls) {
  Platform lab = Lab(R"({"address": "192.0.2.42", "services": {"error": 1722}})");
  auto manager = OpenOrNull(lab);
  ASSERT_NE(manager, nullptr);
  EXPECT_EQ(manager->QuerySize().error, 1722u);
  Result<std::vector<std::string>> names = manager->ListDisplayNames(100000);
  ASSERT_FALSE(names.ok());
  EXPECT_EQ(names.status().number(), 1722);
}

TEST_F(LabServicesTest, AManagerThatRefusesIsAccessDenied) {
  for (const char* json : {R"({"address": "192.0.2.42"})",
                           R"({"address": "192.0.2.42", "services": false})"}) {
    Platform lab = Lab(json);
    auto manager = lab.services->Open("192.0.2.42");
    ASSERT_FALSE(manager.ok()) << json;
    EXPECT_EQ(manager.status().number(), win32::kAccessDenied);
    EXPECT_EQ(manager.status().description(), "Access is denied.");
  }
  Platform lab = Lab(R"({"address": "192.0.2.42", "services": []})");
  EXPECT_FALSE(lab.services->Open("192.0.2.43").ok());
}

}  // namespace
}  // namespace hostlore::test
