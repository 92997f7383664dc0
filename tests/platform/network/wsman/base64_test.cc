#include "platform/network/wsman/base64.h"

#include <gtest/gtest.h>

namespace hostlore::wsman {
namespace {

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
