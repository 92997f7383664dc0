// The snapshot's hive reader on a small hive file (one uninstall entry
// with a value inline and one in a cell of its own, and a key below it),
// and on bytes that are no hive.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "platform/network/smb/hive_file.h"

namespace hostlore::testing {
namespace {

std::string SeedHive() {
  std::ifstream in(HOSTLORE_SOURCE_DIR "/tests/fuzz/hive_file_corpus/uninstall_entry",
                   std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

TEST(HiveFileTest, ReadsKeysAndValuesAsTheRegistryStoresThem) {
  Result<std::unique_ptr<HiveFile>> hive = HiveFile::Parse(SeedHive());
  ASSERT_TRUE(hive.ok()) << hive.status().description();

  KeyRead entry = hive.value()->Read("PROG1");
  EXPECT_TRUE(entry.fetched && entry.complete && entry.opened.ok());
  ASSERT_EQ(entry.values.size(), 2u);
  ASSERT_TRUE(entry.values.at("displayname").ok());
  EXPECT_EQ(entry.values.at("displayname").value().type, reg::kSz);
  EXPECT_EQ(entry.values.at("displayname").value().data, std::string("P\0001\0\0\0", 6));
  ASSERT_TRUE(entry.values.at("version").ok());
  EXPECT_EQ(entry.values.at("version").value().data, std::string("\7\0\0\0", 4));

  KeyRead below = hive.value()->Read("Prog1\\installproperties");
  ASSERT_TRUE(below.opened.ok());
  EXPECT_EQ(below.values.count("regcompany"), 1u);

  KeyRead missing = hive.value()->Read("Prog2\\InstallProperties");
  EXPECT_TRUE(missing.fetched);
  EXPECT_EQ(missing.opened.number(), win32::kFileNotFound);
}

TEST(HiveFileTest, RefusesBytesThatAreNoHive) {
  std::string damaged = SeedHive();
  damaged[0x24] ^= 1;  // the root's place, and the checksum no longer holds
  EXPECT_FALSE(HiveFile::Parse(damaged).ok());
  EXPECT_FALSE(HiveFile::Parse("").ok());
  EXPECT_FALSE(HiveFile::Parse(std::string(5000, 'x')).ok());
}

}  // namespace
}  // namespace hostlore::testing
