// The lab's WMI service: queries, instances, property values and failures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/lab/lab_fixture.h"

namespace hostlore::test {
namespace {

constexpr const char* kComputer = R"({
  "address": "192.0.2.42",
  "wmi": {
    "Win32_ComputerSystem": [{"Name": "PC042", "UserName": null,
                              "TotalPhysicalMemory": "536330240"}],
    "Win32_Processor": [{"Name": "CPU 0", "CurrentClockSpeed": 1993},
                        {"Name": "CPU 1", "CurrentClockSpeed": 1993.5},
                        {"Name": "CPU 2", "Big": 18446744073709551615}],
    "Win32_BIOS": {"error": "Invalid class", "number": -2147217392}
  }
})";

class LabWmiTest : public LabTest {
 protected:
  void SetUp() override {
    lab_ = Lab(kComputer);
    auto connection = lab_.wmi->Connect("192.0.2.42");
    ASSERT_TRUE(connection.ok()) << connection.status().description();
    connection_ = std::move(connection).value();
  }

  // The instances of `wql`, read to the end.
  std::vector<std::unique_ptr<WmiObject>> Query(std::string_view wql) {
    std::vector<std::unique_ptr<WmiObject>> objects;
    auto set = connection_->ExecQuery(wql);
    EXPECT_TRUE(set.ok()) << wql << ": " << set.status().description();
    while (set.ok()) {
      Result<std::unique_ptr<WmiObject>> next = set.value()->Next();
      EXPECT_TRUE(next.ok());
      if (!next.ok() || next.value() == nullptr) break;
      objects.push_back(std::move(next).value());
    }
    return objects;
  }

  Platform lab_;
  std::unique_ptr<WmiConnection> connection_;
};

TEST_F(LabWmiTest, PropertiesKeepTheirKindWhateverTheCaseOfTheirName) {
  auto systems = Query("Select * From Win32_ComputerSystem");
  ASSERT_EQ(systems.size(), 1u);
  EXPECT_EQ(std::get<std::string>(systems[0]->Get("name").value().value), "PC042");
  EXPECT_EQ(std::get<std::string>(systems[0]->Get("TotalPhysicalMemory").value().value),
            "536330240");
  EXPECT_TRUE(systems[0]->Get("UserName").value().is_null());
  Result<WmiValue> missing = systems[0]->Get("Domain");
  ASSERT_FALSE(missing.ok());
  EXPECT_EQ(missing.status().number(), kWbemNotFound);

  auto processors = Query("select * from win32_processor");
  ASSERT_EQ(processors.size(), 3u);  // in the order of the file
  EXPECT_EQ(std::get<int64_t>(processors[0]->Get("currentclockspeed").value().value), 1993);
  EXPECT_EQ(std::get<double>(processors[1]->Get("currentclockspeed").value().value), 1993.5);
  EXPECT_EQ(std::get<std::string>(processors[2]->Get("Name").value().value), "CPU 2");
  EXPECT_TRUE(std::holds_alternative<double>(processors[2]->Get("big").value().value));
}

TEST_F(LabWmiTest, TheClassIsReadAfterFromWithBlanksAround) {
  EXPECT_EQ(Query("  SELECT Name FROM   win32_COMPUTERSYSTEM \r\n").size(), 1u);
  EXPECT_EQ(Query("Select * From Win32_LogicalDisk").size(), 0u);  // not listed
  for (const char* bad : {"Select * Win32_BIOS", "Select * From", "Select * From A Where x"}) {
    auto set = connection_->ExecQuery(bad);
    ASSERT_FALSE(set.ok()) << bad;
    EXPECT_EQ(set.status().number(), 0x80041017) << bad;
  }
}

TEST_F(LabWmiTest, AFailingClassGivesItsNumberAndText) {
  auto set = connection_->ExecQuery("Select * From Win32_BIOS");
  ASSERT_FALSE(set.ok());
  EXPECT_EQ(set.status().number(), -2147217392);
  EXPECT_EQ(set.status().description(), "Invalid class");
}

TEST_F(LabWmiTest, AComputerWithoutWmiRefusesTheConnection) {
  folder_.Write("pc2.json", R"({"names": ["PC2"], "address": "192.0.2.2"})");
  Platform lab = Lab(R"({"names": ["PC1"], "address": "192.0.2.1", "wmi": false})");
  for (const char* host : {"PC1", "PC2", "PC3"}) {  // false, absent, no such computer
    auto connection = lab.wmi->Connect(host);
    ASSERT_FALSE(connection.ok()) << host;
    EXPECT_EQ(connection.status().number(), 0x800706BA);
    EXPECT_EQ(connection.status().description(), "The RPC server is unavailable.");
  }
}

}  // namespace
}  // namespace hostlore::test
