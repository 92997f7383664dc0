// The runner's check of a lab folder before its agents start.
#include "fleet/lab_check.h"

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <fstream>
#include <sstream>

#include "support/test_support.h"

namespace hostlore::fleet {
namespace {

long PeakRssKb() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

TEST(LabCheckTest, ABrokenLabIsReportedWithItsFile) {
  test::TempFolder lab;
  lab.Write("good.json", R"({"names": ["PC1"], "address": "192.0.2.1"})");
  const std::filesystem::path broken = lab.Write("broken.json", R"({"names": ["PC2"], "address": )");
  const Status checked = CheckLab(lab.path().string());
  ASSERT_FALSE(checked.ok());
  EXPECT_NE(checked.description().find(broken.string()), std::string::npos) << checked.description();

  EXPECT_FALSE(CheckLab((lab.path() / "missing").string()).ok());
  lab.Write("broken.json", R"({"names": ["PC2"], "address": "192.0.2.2"})");
  EXPECT_TRUE(CheckLab(lab.path().string()).ok()) << CheckLab(lab.path().string()).description();
}

// The kernel counts the runner's peak memory into every agent's, so a lab
// loaded in the runner itself would make each agent look as large as the lab.
TEST(LabCheckTest, ALargeLabLeavesTheRunnersPeakMemoryAlone) {
  std::ifstream sample_file(std::string(HOSTLORE_SOURCE_DIR) + "/lab/pc042.json");
  std::stringstream sample;
  sample << sample_file.rdbuf();
  test::TempFolder lab;
  for (int i = 0; i < 500; ++i) {  // some 20 MB once parsed
    std::string json = sample.str();
    const std::string name = "PC" + std::to_string(1000 + i);
    for (size_t at; (at = json.find("PC042")) != std::string::npos;) json.replace(at, 5, name);
    for (size_t at; (at = json.find("pc042")) != std::string::npos;) json.replace(at, 5, name);
    const std::string address = "10.1." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1);
    for (size_t at; (at = json.find("192.0.2.42")) != std::string::npos;) json.replace(at, 10, address);
    lab.Write(name + ".json", json);
  }
  const long before = PeakRssKb();
  ASSERT_TRUE(CheckLab(lab.path().string()).ok());
  EXPECT_LT(PeakRssKb() - before, 4 * 1024);
}

}  // namespace
}  // namespace hostlore::fleet
