// Reading the authentication file: its format, and refusing one that
// others may read, without the password ever showing in a description.
#include "platform/network/smb_credentials.h"

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

TEST(SmbCredentials, ReadsTheSmbclientFormat) {
  test::TempFolder folder;
  const fs::path path = AuthFile(folder,
                                 "# inventory account\n"
                                 "username = inv\n"
                                 "password=  p = w;d \n"
                                 "domain\t=\tCORP\r\n"
                                 "workgroup = ignored\n",
                                 fs::perms::owner_read | fs::perms::owner_write);
  Result<SmbCredentials> read = ReadAuthFile(path.string());
  ASSERT_TRUE(read.ok()) << read.status().description();
  EXPECT_FALSE(read->kerberos);
  EXPECT_EQ(read->username, "inv");
  EXPECT_EQ(read->password, "p = w;d");
  EXPECT_EQ(read->domain, "CORP");
}

TEST(SmbCredentials, RefusesFilesOthersMayReadOrWithoutAUser) {
  test::TempFolder folder;
  const fs::path shared = AuthFile(folder, "username = inv\npassword = s3cret\n",
                                   fs::perms::owner_read | fs::perms::group_read);
  Result<SmbCredentials> refused = ReadAuthFile(shared.string());
  ASSERT_FALSE(refused.ok());
  EXPECT_EQ(refused.status().number(), 5);
  EXPECT_EQ(refused.status().description().find("s3cret"), std::string::npos);

  const fs::path nameless = AuthFile(folder, "password = s3cret\n", fs::perms::owner_read);
  EXPECT_FALSE(ReadAuthFile(nameless.string()).ok());
  EXPECT_FALSE(ReadAuthFile((folder.path() / "missing").string()).ok());
}

TEST(SmbCredentials, WithoutTheVariableTheTicketCacheIsUsed) {
  ::unsetenv("HOSTLORE_AUTH_FILE");
  Result<SmbCredentials> credentials = LoadSmbCredentials();
  ASSERT_TRUE(credentials.ok());
  EXPECT_TRUE(credentials->kerberos);
}

}  // namespace
}  // namespace hostlore
