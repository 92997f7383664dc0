// The lab's remote registry: raw value bytes, key lookup, enumeration order
// and the failures each call can give.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/lab/lab_fixture.h"

namespace hostlore::test {
namespace {

using namespace std::string_literals;

constexpr const char* kComputer = R"({
  "names": ["PC042"],
  "address": "192.0.2.42",
  "registry": {
    "HKLM\\Software\\Vendor\\Zeta": {},
    "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion": {
      "CurrentVersion": "5.1",
      "": "default",
      "Owner": "Zoë",
      "SystemRoot": {"type": "REG_EXPAND_SZ", "data": "C:\\WINDOWS"},
      "Tags": {"type": "REG_MULTI_SZ", "data": ["a", "b"]},
      "None": {"type": "REG_MULTI_SZ", "data": []},
      "InstallDate": {"type": "REG_DWORD", "data": 1054200000},
      "Blob": {"type": "REG_BINARY", "data": "00ff7A"},
      "Plain": {"type": "REG_SZ", "data": "x"}
    },
    "HKLM\\SOFTWARE\\vendor\\Alpha": {},
    "HKU\\S-1-5-21-1003_Classes": {}
  }
})";

class LabRegistryTest : public LabTest {
 protected:
  void SetUp() override { lab_ = Lab(kComputer); }

  std::unique_ptr<RegistryKey> Open(Hive hive, std::string_view path) {
    auto root = lab_.registry->Connect("192.0.2.42", hive);
    if (!root.ok()) return nullptr;
    auto key = root.value()->OpenKey(path, reg::kAllSpecificRights);
    return key.ok() ? std::move(key).value() : nullptr;
  }

  std::vector<std::string> Subkeys(Hive hive, std::string_view path) {
    std::vector<std::string> names;
    auto key = Open(hive, path);
    for (uint32_t i = 0; key != nullptr; ++i) {
      Result<std::string> name = key->EnumKey(i);
      if (!name.ok()) {
        EXPECT_EQ(name.status().number(), win32::kNoMoreItems);
        break;
      }
      names.push_back(name.value());
    }
    return names;
  }

  RegistryValue Value(std::string_view name) {
    auto key = Open(Hive::kLocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion");
    if (key == nullptr) return {};
    Result<RegistryValue> value = key->QueryValue(name);
    return value.ok() ? value.value() : RegistryValue{};
  }

  Platform lab_;
};

TEST_F(LabRegistryTest, ValuesHaveTheirTypeAndRawBytes) {
  const auto check = [this](std::string_view name, uint32_t type, const std::string& data) {
    const RegistryValue value = Value(name);
    EXPECT_EQ(value.type, type) << name;
    EXPECT_EQ(value.data, data) << name;
  };
  check("CurrentVersion", reg::kSz, "5\0.\0" "1\0\0\0"s);
  check("Plain", reg::kSz, "x\0\0\0"s);
  check("Owner", reg::kSz, "Z\0o\0\xEB\0\0\0"s);
  check("SystemRoot", reg::kExpandSz, "C\0:\0\\\0W\0I\0N\0D\0O\0W\0S\0\0\0"s);
  check("Tags", reg::kMultiSz, "a\0\0\0b\0\0\0\0\0"s);
  check("None", reg::kMultiSz, "\0\0"s);
  check("InstallDate", reg::kDword, "\xC0\xD0\xD5\x3E"s);  // 1054200000 = 0x3ED5D0C0
  check("Blob", reg::kBinary, "\x00\xFF\x7A"s);
  check("", reg::kSz, "d\0e\0f\0a\0u\0l\0t\0\0\0"s);
}

TEST_F(LabRegistryTest, KeyPathsAndValueNamesIgnoreCase) {
  EXPECT_EQ(Value("currentversion").type, reg::kSz);
  EXPECT_NE(Open(Hive::kLocalMachine, "SOFTWARE\\microsoft\\WINDOWS NT\\currentversion"), nullptr);
  EXPECT_NE(Open(Hive::kUsers, "s-1-5-21-1003_classes"), nullptr);
}

TEST_F(LabRegistryTest, ParentsAreImpliedAndSubkeysKeepTheirFirstOrder) {
  EXPECT_EQ(Subkeys(Hive::kLocalMachine, ""), std::vector<std::string>{"Software"});
  EXPECT_EQ(Subkeys(Hive::kLocalMachine, "Software"),
            (std::vector<std::string>{"Vendor", "Microsoft"}));
  EXPECT_EQ(Subkeys(Hive::kLocalMachine, "Software\\Vendor"),
            (std::vector<std::string>{"Zeta", "Alpha"}));
  EXPECT_EQ(Subkeys(Hive::kLocalMachine, "Software\\Vendor\\Zeta"), std::vector<std::string>{});
  EXPECT_EQ(Subkeys(Hive::kUsers, ""), std::vector<std::string>{"S-1-5-21-1003_Classes"});
}

TEST_F(LabRegistryTest, MissingKeysAndValuesAreNotFound) {
  auto root = lab_.registry->Connect("PC042", Hive::kLocalMachine);
  ASSERT_TRUE(root.ok());
  for (const char* path : {"Software\\Nothing", "Software\\\\Vendor", "\\Software", "Software\\"}) {
    auto key = root.value()->OpenKey(path, reg::kEnumerateSubKeys);
    ASSERT_FALSE(key.ok()) << path;
    EXPECT_EQ(key.status().number(), win32::kFileNotFound) << path;
  }
  auto again = root.value()->OpenKey("", reg::kEnumerateSubKeys);
  ASSERT_TRUE(again.ok());
  EXPECT_TRUE(again.value()->EnumKey(0).ok());

  auto key = Open(Hive::kLocalMachine, "Software");
  ASSERT_NE(key, nullptr);
  EXPECT_EQ(key->QueryValue("CurrentVersion").status().number(), win32::kFileNotFound);
  EXPECT_EQ(key->EnumKey(2).status().number(), win32::kNoMoreItems);
}

TEST_F(LabRegistryTest, AKeyOutlivesThePlatformThatOpenedIt) {
  auto key = Open(Hive::kLocalMachine, "Software\\Microsoft\\Windows NT\\CurrentVersion");
  ASSERT_NE(key, nullptr);
  lab_ = Platform{};
  EXPECT_EQ(key->QueryValue("Plain").value().data, "x\0\0\0"s);
}

TEST_F(LabRegistryTest, ARegistryThatCannotBeReachedIsABadNetworkPath) {
  folder_.Write("pc2.json", R"({"names": ["PC2"], "address": "192.0.2.2"})");
  Platform lab = Lab(R"({"names": ["PC1"], "address": "192.0.2.1", "registry": false})");
  for (const char* host : {"PC1", "PC2", "PC3"}) {  // false, absent, no such computer
    auto root = lab.registry->Connect(host, Hive::kLocalMachine);
    ASSERT_FALSE(root.ok()) << host;
    EXPECT_EQ(root.status().number(), win32::kBadNetPath);
    EXPECT_EQ(root.status().description(), "The network path was not found.");
  }
}

}  // namespace
}  // namespace hostlore::test
