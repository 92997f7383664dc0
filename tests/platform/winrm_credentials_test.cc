#include "platform/network/wsman/winrm_credentials.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "platform/network/wsman/base64.h"
#include "support/test_support.h"

namespace hostlore::wsman {
namespace {

class WinrmCredentialsTest : public ::testing::Test {
 protected:
  Result<WinrmCredentials> Read(const std::string& text, mode_t mode = 0600) {
    const std::string path = folder_.Write("auth", text).string();
    ::chmod(path.c_str(), mode);
    return ReadWinrmAuthFile(path);
  }
  test::TempFolder folder_;
};

TEST_F(WinrmCredentialsTest, TheUserNamesItsDomainInAnyOfTheThreeForms) {
  Result<WinrmCredentials> plain = Read("username = jsmith\npassword = a = b \ndomain = OFFICE\n");
  ASSERT_TRUE(plain.ok()) << plain.status().description();
  EXPECT_FALSE(plain->kerberos);
  EXPECT_EQ(plain->username, "jsmith");
  EXPECT_EQ(plain->password, "a = b");
  EXPECT_EQ(plain->domain, "OFFICE");

  Result<WinrmCredentials> backslash = Read("username = CORP\\jsmith\r\npassword = x\r\n");
  ASSERT_TRUE(backslash.ok());
  EXPECT_EQ(backslash->domain, "CORP");
  EXPECT_EQ(backslash->username, "jsmith");

  Result<WinrmCredentials> at = Read("username=jsmith@corp.example\npassword=x\ndomain=IGNORED\n");
  ASSERT_TRUE(at.ok());
  EXPECT_EQ(at->domain, "corp.example");
  EXPECT_EQ(at->username, "jsmith");
}

TEST_F(WinrmCredentialsTest, AFileOthersMayReadOrWithoutUserIsRefused) {
  Result<WinrmCredentials> shared = Read("username = u\npassword = Secret-9\n", 0604);
  ASSERT_FALSE(shared.ok());
  EXPECT_NE(shared.status().description().find("group or others"), std::string::npos);
  EXPECT_EQ(shared.status().description().find("Secret-9"), std::string::npos);
  EXPECT_FALSE(Read("password = Secret-9\n").ok());
  EXPECT_FALSE(ReadWinrmAuthFile((folder_.path() / "absent").string()).ok());
}

TEST(Base64Test, RoundTripsEveryLengthAndRefusesNonCanonicalText) {
  std::string bytes;
  for (int i = 0; i < 40; ++i) {
    EXPECT_EQ(DecodeBase64(EncodeBase64(bytes)), bytes) << i;
    bytes += static_cast<char>(i * 37 + 200);
  }
  EXPECT_EQ(EncodeBase64("NTLMSSP"), "TlRMTVNTUA==");
  for (const char* bad : {"TlRMTVNTUA=", "TlRM*VNTUA==", "T===", "TlR=TVNT"}) {
    EXPECT_FALSE(DecodeBase64(bad)) << bad;
  }
}

}  // namespace
}  // namespace hostlore::wsman
