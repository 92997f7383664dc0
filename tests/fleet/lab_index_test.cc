// The lab index that spares agents the parsing of large lab folders: it is
// used only while it provably matches the folder.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <chrono>
#include <filesystem>

#include "platform/lab/lab_index.h"
#include "platform/lab/lab_platform.h"
#include "support/test_support.h"

namespace hostlore::test {
namespace {

namespace fs = std::filesystem;

class LabIndexTest : public ::testing::Test {
 protected:
  LabIndexTest() : cache_env_("XDG_CACHE_HOME", cache_.path().string()) {}

  // Writes a computer and backdates it, so that the folder counts as settled.
  void Computer(const std::string& file, const std::string& name, const std::string& address,
                std::chrono::minutes age = std::chrono::minutes(5)) {
    lab_.Write(file, R"({"names": [")" + name + R"("], "address": ")" + address + R"("})");
    Backdate(lab_.path() / file, age);
    Backdate(lab_.path(), std::chrono::minutes(5));
  }
  static void Backdate(const fs::path& path, std::chrono::minutes age) {
    fs::last_write_time(path, fs::file_time_type::clock::now() - age);
  }
  // Enough further computers that the folder is worth an index.
  void Crowd() {
    for (size_t i = 0; i < kIndexMinFiles; ++i) {
      const std::string n = std::to_string(i);
      Computer("crowd" + n + ".json", "CROWD" + n, "198.51." + std::to_string(i / 250) + "." + std::to_string(i % 250 + 1));
    }
  }
  bool Resolves(const std::string& name) {
    Result<Platform> lab = MakeLabPlatform(lab_.path().string());
    return lab.ok() && lab->echo->Resolve(name).has_value();
  }
  std::vector<fs::path> Indexes() const {
    std::vector<fs::path> found;
    if (fs::exists(cache_.path() / "hostlore")) {
      for (const auto& entry : fs::directory_iterator(cache_.path() / "hostlore")) found.push_back(entry.path());
    }
    return found;
  }

  TempFolder cache_;
  ScopedEnv cache_env_;
  TempFolder lab_;
};

TEST_F(LabIndexTest, ASettledFolderGetsAnIndexThatAnswersLikeTheFiles) {
  Crowd();
  Computer("a.json", "PC1", "192.0.2.1");
  Computer("b.json", "PC2", "192.0.2.2");
  EXPECT_TRUE(Resolves("pc1"));  // full load, writes the index
  ASSERT_EQ(Indexes().size(), 1u);
  // Answered from the index now: names, addresses, and nothing else.
  Result<Platform> lab = MakeLabPlatform(lab_.path().string());
  ASSERT_TRUE(lab.ok());
  EXPECT_EQ(lab->echo->Resolve("PC2"), (Ipv4Address{192, 0, 2, 2}));
  EXPECT_EQ(lab->echo->Resolve("192.0.2.1"), (Ipv4Address{192, 0, 2, 1}));
  EXPECT_FALSE(lab->echo->Resolve("PC3").has_value());
  EXPECT_FALSE(lab->echo->Resolve("a.json").has_value());
}

TEST_F(LabIndexTest, FreshOrSmallFoldersAreAlwaysReadInFull) {
  Computer("a.json", "PC1", "192.0.2.1");
  EXPECT_TRUE(Resolves("PC1"));
  EXPECT_TRUE(Indexes().empty());  // settled, but small
  Crowd();
  lab_.Write("b.json", R"({"names": ["PC2"], "address": "192.0.2.2"})");
  EXPECT_TRUE(Resolves("PC2"));
  EXPECT_TRUE(Indexes().empty());  // large, but b.json is fresh
}

TEST_F(LabIndexTest, ChangesToTheFolderAreSeen) {
  Crowd();
  Computer("a.json", "PC1", "192.0.2.1");
  ASSERT_TRUE(Resolves("PC1"));
  // A new file changes the folder: the index is dropped at once.
  Computer("b.json", "PC2", "192.0.2.2");
  EXPECT_TRUE(Resolves("PC2"));
  // A file rewritten in place is seen once the index is due for its recheck.
  Computer("a.json", "PC9", "192.0.2.1", std::chrono::minutes(3));
  for (const fs::path& index : Indexes()) Backdate(index, std::chrono::minutes(1));
  EXPECT_TRUE(Resolves("PC9"));
  EXPECT_FALSE(Resolves("PC1"));
  // And a file broken in place fails the load naming it, as without an index.
  lab_.Write("b.json", "{");
  Backdate(lab_.path() / "b.json", std::chrono::minutes(1));
  for (const fs::path& index : Indexes()) Backdate(index, std::chrono::minutes(1));
  Result<Platform> lab = MakeLabPlatform(lab_.path().string());
  ASSERT_FALSE(lab.ok());
  EXPECT_NE(lab.status().description().find("b.json"), std::string::npos);
}

// A file rewritten in place within the index's recheck window: the agent
// whose computer it holds reads it again rather than trusting the index, and
// a broken file stops it with the file's name, as without an index (instead
// of a computer that seems not to answer).
TEST_F(LabIndexTest, AnAgentRereadsItsFileWhenItChangedSinceIndexed) {
  Crowd();
  Computer("a.json", "PC1", "192.0.2.1");
  ASSERT_TRUE(Resolves("PC1"));
  ASSERT_EQ(Indexes().size(), 1u);
  lab_.Write("a.json", R"({"names": ["PC1"], "addr)");
  Backdate(lab_.path() / "a.json", std::chrono::minutes(1));

  Result<Platform> lab = MakeLabPlatform(lab_.path().string(), "PC1");
  ASSERT_FALSE(lab.ok());
  EXPECT_NE(lab.status().description().find("a.json"), std::string::npos) << lab.status().description();
  TempFolder temp;
  const AgentProcessResult run = RunAgentProcess(
      "1,PC1,sqlite:" + (temp.path() / "x.db").string() + ",,3", temp.path(),
      {{"HOSTLORE_LAB", lab_.path().string()}, {"XDG_CACHE_HOME", cache_.path().string()}});
  EXPECT_EQ(run.exit_status, 1);
  ASSERT_EQ(run.log.size(), 1u);
  EXPECT_NE(run.log[0].find("a.json: "), std::string::npos) << run.log[0];
  // Another computer's lookups still trust the index.
  EXPECT_TRUE(MakeLabPlatform(lab_.path().string(), "CROWD7").ok());
}

}  // namespace
}  // namespace hostlore::test
