// Loading a lab folder: which files count, and how a bad file is reported.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/lab/lab_platform.h"
#include "platform/lab/lab_fixture.h"
#include "platform/lab/lab_registry_tree.h"

namespace hostlore::test {
namespace {

using LabDirectoryTest = LabTest;

TEST_F(LabDirectoryTest, OnlyJsonFilesAreComputers) {
  folder_.Write("notes.txt", "not a computer");
  folder_.Write("pc.json.bak", "{");
  std::filesystem::create_directory(folder_.path() / "sub.json");
  folder_.Write("pc2.json", R"({"names": ["PC2"], "address": "192.0.2.2"})");
  Platform lab = Lab(R"({"names": ["PC1"], "address": "192.0.2.1"})");
  EXPECT_TRUE(lab.echo->Resolve("pc1").has_value());
  EXPECT_TRUE(lab.echo->Resolve("pc2").has_value());
}

TEST_F(LabDirectoryTest, AnEmptyFolderIsALabWithoutComputers) {
  Result<Platform> lab = MakeLabPlatform(folder_.path().string());
  ASSERT_TRUE(lab.ok());
  EXPECT_FALSE(lab->echo->Resolve("PC042").has_value());
}

TEST_F(LabDirectoryTest, AMissingFolderIsNamed) {
  const std::string missing = (folder_.path() / "nowhere").string();
  Result<Platform> lab = MakeLabPlatform(missing);
  ASSERT_FALSE(lab.ok());
  EXPECT_NE(lab.status().description().find(missing), std::string::npos);
}

struct BadFile {
  const char* json;
  const char* complaint;  // part of the description
};

TEST_F(LabDirectoryTest, AMalformedFileFailsNamingTheFileAndTheFault) {
  const std::vector<BadFile> bad = {
      {R"({"address": "192.0.2.1",)", "parse error"},
      {R"(["192.0.2.1"])", "one JSON object"},
      {R"({"names": ["PC"]})", "\"address\""},
      {R"({"address": "192.0.2.256"})", "\"address\""},
      {R"({"address": "192.0.02.1"})", "\"address\""},
      {R"({"address": "192.0.2.1", "latency": 5})", "unknown field \"latency\""},
      {R"({"address": "192.0.2.1", "names": "PC"})", "\"names\""},
      {R"({"address": "192.0.2.1", "echo": "sometimes"})", "\"echo\""},
      {R"({"address": "192.0.2.1", "latency_ms": -1})", "\"latency_ms\""},
      {R"({"address": "192.0.2.1", "registry": {"HKCU\\X": {}}})", "HKLM or HKU"},
      {R"({"address": "192.0.2.1", "registry": {"HKLM\\\\X": {}}})", "empty name"},
      {R"({"address": "192.0.2.1", "registry": {"HKLM\\X\\": {}}})", "empty name"},
      {R"({"address": "192.0.2.1", "registry": {"HKLM\\X": {"V": 5}}})", "value \"V\""},
      {R"({"address": "192.0.2.1", "registry": {"HKLM\\X": {"V": {"type": "REG_QWORD", "data": 1}}}})",
       "unknown type"},
      {R"({"address": "192.0.2.1", "registry": {"HKLM\\X": {"V": {"type": "REG_DWORD", "data": "1"}}}})",
       "REG_DWORD"},
      {R"({"address": "192.0.2.1", "registry": {"HKLM\\X": {"V": {"type": "REG_DWORD", "data": 4294967296}}}})",
       "REG_DWORD"},
      {R"({"address": "192.0.2.1", "registry": {"HKLM\\X": {"V": {"type": "REG_BINARY", "data": "abc"}}}})",
       "REG_BINARY"},
      {R"({"address": "192.0.2.1", "registry": {"HKLM\\X": {"V": {"type": "REG_MULTI_SZ", "data": "a"}}}})",
       "REG_MULTI_SZ"},
      {R"({"address": "192.0.2.1", "registry": {"HKLM\\X": {"V": "1"}, "HKLM\\x": {"v": "2"}}})",
       "listed twice"},
      {R"({"address": "192.0.2.1", "services": {"error": 0}})", "\"services\""},
      {R"({"address": "192.0.2.1", "services": [1]})", "\"services\""},
      {R"({"address": "192.0.2.1", "shares": {"C$": {"total": 1}}})", "share \"C$\""},
      {R"({"address": "192.0.2.1", "wmi": {"Win32_BIOS": {"error": "x"}}})", "Win32_BIOS"},
      {R"({"address": "192.0.2.1", "wmi": {"Win32_BIOS": [{"Name": true}]}})", "Win32_BIOS.Name"},
      {R"({"address": "192.0.2.1", "wmi": {"A": [], "a": []}})", "listed twice"},
  };
  for (const BadFile& file : bad) {
    const std::string failure = LoadFailure(file.json);
    EXPECT_NE(failure.find("pc.json"), std::string::npos) << file.json << " → " << failure;
    EXPECT_NE(failure.find(file.complaint), std::string::npos) << file.json << " → " << failure;
  }
}

TEST_F(LabDirectoryTest, TwoFilesMayNotClaimOneNameOrAddress) {
  folder_.Write("a.json", R"({"names": ["PC1"], "address": "192.0.2.1"})");
  EXPECT_NE(LoadFailure(R"({"names": ["pc1"], "address": "192.0.2.2"})").find("a.json"),
            std::string::npos);
  EXPECT_NE(LoadFailure(R"({"names": ["PC2"], "address": "192.0.2.1"})").find("a.json"),
            std::string::npos);
}

// Input nested far deeper than any lab file needs fails its load with a
// clear reason instead of exhausting the stack; the registry's own depth
// limit of 512 levels still loads.
TEST_F(LabDirectoryTest, DeepInputIsRefusedNamingTheDepth) {
  const std::string deep(100000, '[');
  EXPECT_NE(LoadFailure(R"({"address": "192.0.2.1", "names": )" + deep + std::string(100000, ']') + "}")
                .find("nest more than 32 levels deep"),
            std::string::npos);
  const auto key_path = [](size_t levels) {
    std::string path = "HKLM";
    for (size_t i = 0; i < levels; ++i) path += "\\\\k";
    return path;
  };
  EXPECT_NE(LoadFailure(R"({"address": "192.0.2.1", "registry": {")" + key_path(500000) + R"(": {}}})")
                .find("500000 levels deep; the registry allows at most 512"),
            std::string::npos);
  Platform lab = Lab(R"({"names": ["PC1"], "address": "192.0.2.1", "registry": {")" + key_path(512) +
                     R"(": {"V": "deepest"}}})");
  EXPECT_TRUE(lab.echo->Resolve("PC1").has_value());
}

// A key tree is taken apart without a stack frame per level.
TEST(LabRegistryTreeTest, AVeryDeepTreeIsDestroyed) {
  LabRegistry registry;
  LabKey* key = &registry.local_machine;
  for (int level = 0; level < 500000; ++level) {
    key->subkeys.emplace_back();
    key = &key->subkeys.back();
  }
}

}  // namespace
}  // namespace hostlore::test
