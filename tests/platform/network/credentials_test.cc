// Reading the authentication file: its format, and refusing one that
// others may read, without the password ever showing in a description.
#include "platform/network/credentials.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "support/test_support.h"

namespace hostlore {
namespace {

namespace fs = std::filesystem;

fs::path AuthFile(const test::TempFolder& folder, const std::string& text, fs::perms perms) {
  const fs::path path = folder.Write("auth", text);
  fs::permissions(path, perms);
  return path;
}

TEST(NetworkCredentials, ReadsTheSmbclientFormat) {
  test::TempFolder folder;
  const fs::path path = AuthFile(folder,
                                 "# inventory account\n"
                                 "username = inv\n"
                                 "password=  p = w;d \n"
                                 "domain\t=\tCORP\r\n"
                                 "workgroup = ignored\n",
                                 fs::perms::owner_read | fs::perms::owner_write);
  Result<NetworkCredentials> read = ReadAuthFile(path.string());
  ASSERT_TRUE(read.ok()) << read.status().description();
  EXPECT_FALSE(read->kerberos);
  EXPECT_EQ(read->username, "inv");
  EXPECT_EQ(read->password, "p = w;d");
  EXPECT_EQ(read->domain, "CORP");
}

TEST(NetworkCredentials, AUserNamesItsDomainWithABackslashOrAnAt) {
  test::TempFolder folder;
  const auto read = [&](const std::string& user) {
    return ReadAuthFile(AuthFile(folder, "username = " + user + "\ndomain = OTHER\n",
                                 fs::perms::owner_read)
                            .string());
  };
  const Result<NetworkCredentials> backslash = read("CORP\\jsmith");
  ASSERT_TRUE(backslash.ok());
  EXPECT_EQ(backslash->domain, "CORP");
  EXPECT_EQ(backslash->username, "jsmith");
  const Result<NetworkCredentials> at = read("jsmith@corp.example");
  ASSERT_TRUE(at.ok());
  EXPECT_EQ(at->domain, "corp.example");
  EXPECT_EQ(at->username, "jsmith");
}

TEST(NetworkCredentials, RefusesFilesOthersMayReadOrWithoutAUser) {
  test::TempFolder folder;
  const fs::path shared = AuthFile(folder, "username = inv\npassword = s3cret\n",
                                   fs::perms::owner_read | fs::perms::group_read);
  Result<NetworkCredentials> refused = ReadAuthFile(shared.string());
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.status().number(), 5);
  EXPECT_EQ(refused.status().description().find("s3cret"), std::string::npos);
  EXPECT_NE(refused.status().description().find("group or others"), std::string::npos);

  const fs::path nameless = AuthFile(folder, "password = s3cret\n", fs::perms::owner_read);
  EXPECT_FALSE(ReadAuthFile(nameless.string()).ok());
  EXPECT_FALSE(ReadAuthFile((folder.path() / "missing").string()).ok());
}

TEST(NetworkCredentials, WithoutTheVariableTheTicketCacheIsUsed) {
  ::unsetenv("HOSTLORE_AUTH_FILE");
  Result<NetworkCredentials> credentials = LoadNetworkCredentials();
  ASSERT_TRUE(credentials.ok());
  EXPECT_TRUE(credentials->kerberos);
}

}  // namespace
}  // namespace hostlore
