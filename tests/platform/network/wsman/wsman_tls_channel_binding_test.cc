// The channel binding of a certificate: the hash by the function of the
// certificate's own signature, SHA-256 in place of the weak ones. The
// expected values are the certificates' fingerprints as openssl prints them.
#include "platform/network/wsman/tls_channel_binding.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "platform/network/wsman/spnego_auth.h"

namespace hostlore::wsman {
namespace {

// Self-signed, EC P-256, signed with ECDSA and SHA-384.
constexpr const char* kSha384Signed =
    "-----BEGIN CERTIFICATE-----\n"
    "MIIBgTCCASegAwIBAgIUDHUzP3AY+LKK7VCUeR9BtkhiNwcwCgYIKoZIzj0EAwMw\n"
    "FTETMBEGA1UEAwwKY2J0LXNoYTM4NDAgFw0yNjEyMDYyMzAxNTdaGA8yMTI2MTEx\n"
    "MjIzMDE1N1owFTETMBEGA1UEAwwKY2J0LXNoYTM4NDBZMBMGByqGSM49AgEGCCqG\n"
    "SM49AwEHA0IABMuYCrSGraKAB+xyeuF4VKPc26aqcnhTjNgJ5XbHUINPUFz63TM+\n"
    "fTZgMZviYs8Z/VR7lt4+QRdVSJu2UbT8sZajUzBRMB0GA1UdDgQWBBRuO7mq+fz/\n"
    "kIpgGUHHcsj/asw7YTAfBgNVHSMEGDAWgBRuO7mq+fz/kIpgGUHHcsj/asw7YTAP\n"
    "BgNVHRMBAf8EBTADAQH/MAoGCCqGSM49BAMDA0gAMEUCIQDx01WfWSP2ba/1Zqgp\n"
    "qSmaBrtf7myvcDefItfBQSL1YAIgT0Zu6UiAbIWXlk5bZ8vdQ8K8buvmV9nyTDh5\n"
    "i+yY854=\n"
    "-----END CERTIFICATE-----\n";

// The same kind, signed with ECDSA and SHA-1.
constexpr const char* kSha1Signed =
    "-----BEGIN CERTIFICATE-----\n"
    "MIIBfDCCASKgAwIBAgIUcq/9thoQ3v8ivzhiCW+Ri/JrQp8wCQYHKoZIzj0EATAT\n"
    "MREwDwYDVQQDDAhjYnQtc2hhMTAgFw0yNjEyMDYyMzAxNTdaGA8yMTI2MTExMjIz\n"
    "MDE1N1owEzERMA8GA1UEAwwIY2J0LXNoYTEwWTATBgcqhkjOPQIBBggqhkjOPQMB\n"
    "BwNCAAS9jILDs8a0mbtAheas9kqpKNXsCjr3PwAPwQMyqcmxOHjWTMPqNvnD8OqA\n"
    "Xrao6hl54j8OeVD94SNRzFV2MTYfo1MwUTAdBgNVHQ4EFgQUA+oqYl30C2DOBiIl\n"
    "x8keBTSnqkIwHwYDVR0jBBgwFoAUA+oqYl30C2DOBiIlx8keBTSnqkIwDwYDVR0T\n"
    "AQH/BAUwAwEB/zAJBgcqhkjOPQQBA0kAMEYCIQD2hDCCyCABTCyGEhHCjIThWEt2\n"
    "V4kUHPDdjHt5itk0aQIhAI6eJoWwMcZTfvvyC3g8c39bhhZAoMp1m/npaN/bic89\n"
    "-----END CERTIFICATE-----\n";

std::string Hex(const std::string& bytes) {
  std::string hex;
  char pair[3];
  for (const unsigned char c : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", c);
    hex += pair;
  }
  return hex;
}

TEST(TlsChannelBindingTest, HashesTheCertificateAsItsSignatureDoes) {
  const std::string prefix = "tls-server-end-point:";
  Result<std::string> sha384 = TlsServerEndPoint(kSha384Signed);
  ASSERT_TRUE(sha384.ok()) << sha384.status().description();
  ASSERT_EQ(sha384->substr(0, prefix.size()), prefix);
  EXPECT_EQ(Hex(sha384->substr(prefix.size())),
            "36A0CC26FC34777D8FC446CDD08570C9E65D7A87D435FAB8C95C153979AA21B2"
            "19D6E380E122BDF82E80E1713980AF84");

  Result<std::string> sha1 = TlsServerEndPoint(kSha1Signed);
  ASSERT_TRUE(sha1.ok()) << sha1.status().description();
  EXPECT_EQ(Hex(sha1->substr(prefix.size())),
            "4F2A55A30DC1CF300BBDB421ACDD60F9C9C97C4E35B148339B29969B120BD6DC");

  for (const char* bad : {"", "-----BEGIN CERTIFICATE-----\nAAAA\n-----END CERTIFICATE-----\n"}) {
    EXPECT_EQ(TlsServerEndPoint(bad).status().number(), kAuthenticationFailed) << bad;
  }
}

}  // namespace
}  // namespace hostlore::wsman
