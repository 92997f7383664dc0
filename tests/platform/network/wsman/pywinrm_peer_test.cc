// The WS-Management test service, as strict as Windows, checked with a
// client nobody here wrote: Debian's pywinrm reads the lab computer's values
// over HTTP with message encryption and over HTTPS with channel binding, and
// meets the refusals Windows gives (an unencrypted message, a class WMI does
// not know). Its NTLM needs MD4, which OpenSSL 3 keeps in its legacy
// provider: a private OPENSSL_CONF turns that on for the client alone.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/network/kdc_realm.h"
#include "platform/network/wsman/wsman_peer_process.h"
#include "support/test_support.h"

namespace hostlore::test {
namespace {

const char kOpensslConf[] =
    "openssl_conf = openssl_init\n[openssl_init]\nproviders = provider_sect\n"
    "[provider_sect]\ndefault = default_sect\nlegacy = legacy_sect\n"
    "[default_sect]\nactivate = 1\n[legacy_sect]\nactivate = 1\n";

std::string Output(const std::string& command) {
  std::string text;
  FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return text;
  char chunk[512];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;) text.append(chunk, n);
  ::pclose(pipe);
  return text;
}

class PywinrmPeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!RunQuietly("/usr/bin/python3 -c 'import winrm, requests_ntlm'")) {
      GTEST_SKIP() << "python3-winrm or python3-requests-ntlm is not installed";
    }
    options_.computer = std::string(HOSTLORE_SOURCE_DIR) + "/lab/pc042.json";
    options_.log = (folder_.path() / "requests.log").string();
    options_.env = {{"NTLM_USER_FILE", folder_.Write("ntlm", "OFFICE:jsmith:Secret-1\n")},
                    {"KRB5_KTNAME", (folder_.path() / "no-keytab").string()}};
    openssl_ = std::make_unique<ScopedEnv>("OPENSSL_CONF",
                                           folder_.Write("openssl.cnf", kOpensslConf).string());
    password_ = std::make_unique<ScopedEnv>("PYWINRM_PASSWORD", "Secret-1");
  }

  // pywinrm's lines for `classes` at `endpoint`, with `options` of the client.
  std::string Ask(const std::string& endpoint, const std::string& classes,
                  const std::string& options = "") {
    return Output("/usr/bin/python3 " + std::string(HOSTLORE_SOURCE_DIR) +
                  "/tests/tools/wsman_peer/pywinrm_client.py " + endpoint + " 'OFFICE\\jsmith' " +
                  classes + " " + options);
  }

  std::string Log() const {
    std::ifstream file(options_.log);
    return std::string(std::istreambuf_iterator<char>(file), {});
  }

  TempFolder folder_;
  WsmanPeerOptions options_;
  std::unique_ptr<ScopedEnv> openssl_;
  std::unique_ptr<ScopedEnv> password_;
};

TEST_F(PywinrmPeerTest, EncryptedHttpGivesTheLabValuesAndWindowsRefusals) {
  std::string why_not;
  std::unique_ptr<WsmanPeerProcess> peer = WsmanPeerProcess::Start(options_, why_not);
  ASSERT_TRUE(peer) << why_not;
  const std::string endpoint = "http://127.0.0.1:" + std::to_string(peer->port()) + "/wsman";

  const std::string read = Ask(endpoint, "Win32_ComputerSystem Win32_BIOS Win32_Battery Win32_Bois");
  EXPECT_NE(read.find("Win32_ComputerSystem.Name=PC042\n"), std::string::npos) << read;
  EXPECT_NE(read.find("Win32_ComputerSystem.UserName=OFFICE\\jsmith\n"), std::string::npos);
  EXPECT_NE(read.find("Win32_BIOS.SerialNumber=7XK2Q1J\n"), std::string::npos) << read;
  // A known class the lab leaves out has no instance; a misspelt one is
  // not a class at all.
  EXPECT_EQ(read.find("Win32_Battery."), std::string::npos) << read;
  EXPECT_NE(read.find("fault Invalid class"), std::string::npos) << read;
  EXPECT_NE(read.find("'wsmanfault_code': '2147749904'"), std::string::npos) << read;

  // In the clear: HTTP 500 and a fault, not another round of authentication.
  const std::string clear = Ask(endpoint, "Win32_BIOS", "--encryption never");
  EXPECT_NE(clear.find("'http_status_code': 500"), std::string::npos) << clear;
  EXPECT_NE(clear.find("'fault_subcode': 'wsman:AccessDenied'"), std::string::npos) << clear;
  EXPECT_NE(Log().find("unencrypted\n"), std::string::npos);
}

TEST_F(PywinrmPeerTest, HttpsWithChannelBindingGivesTheLabValues) {
  const std::string dir = folder_.path().string();
  if (!MakeTestCertificates(dir)) GTEST_SKIP() << "openssl cannot make the test certificates";
  options_.tls_cert = dir + "/peer.pem";
  options_.tls_key = dir + "/peer.key";
  options_.strict_channel_binding = true;
  std::string why_not;
  std::unique_ptr<WsmanPeerProcess> peer = WsmanPeerProcess::Start(options_, why_not);
  ASSERT_TRUE(peer) << why_not;
  const std::string read = Ask("https://127.0.0.1:" + std::to_string(peer->port()) + "/wsman",
                               "Win32_OperatingSystem", "--ca " + dir + "/ca.pem");
  EXPECT_NE(read.find("Win32_OperatingSystem.Caption=Microsoft Windows XP Professional\n"),
            std::string::npos)
      << read;
  EXPECT_EQ(Log().find("unbound"), std::string::npos);
}

TEST(WsmanPeerStrictnessTest, AMessageIsWhatItsActionSays) {
  // An Enumerate body without its wsa:Action is no Enumerate, as on Windows.
  std::string why_not;
  std::unique_ptr<WsmanPeerStdio> peer =
      WsmanPeerStdio::Start(std::string(HOSTLORE_SOURCE_DIR) + "/lab/pc042.json", why_not);
  ASSERT_TRUE(peer) << why_not;
  const auto [status, reply] = peer->Ask(
      "<s:Envelope xmlns:s=\"http://www.w3.org/2003/05/soap-envelope\" "
      "xmlns:n=\"http://schemas.xmlsoap.org/ws/2004/09/enumeration\"><s:Header/><s:Body>"
      "<n:Enumerate/></s:Body></s:Envelope>");
  EXPECT_EQ(status, 500);
  EXPECT_NE(reply.find("ActionNotSupported"), std::string::npos) << reply;
}

TEST_F(PywinrmPeerTest, AChunkedBodyIsReadWholeAndTheConnectionGoesOn) {
  std::string why_not;
  std::unique_ptr<WsmanPeerProcess> peer = WsmanPeerProcess::Start(options_, why_not);
  ASSERT_TRUE(peer) << why_not;
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(peer->port()));
  ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  // Two requests on one connection, the first chunked: both are answered
  // (401, no credentials), so the first body was read to its end.
  const std::string requests =
      "POST /wsman HTTP/1.1\r\nHost: x\r\nTransfer-Encoding: chunked\r\n\r\n"
      "5\r\n<s:En\r\n3\r\nvel\r\n0\r\n\r\n"
      "POST /wsman HTTP/1.1\r\nHost: x\r\nContent-Length: 0\r\n\r\n";
  ASSERT_EQ(::write(fd, requests.data(), requests.size()), static_cast<ssize_t>(requests.size()));
  ::shutdown(fd, SHUT_WR);
  std::string replies;
  char chunk[1024];
  for (ssize_t n; (n = ::read(fd, chunk, sizeof chunk)) > 0;) replies.append(chunk, n);
  ::close(fd);
  size_t count = 0;
  for (size_t at = 0; (at = replies.find("HTTP/1.1 401", at)) != std::string::npos; ++at) ++count;
  EXPECT_EQ(count, 2u) << replies;
  EXPECT_EQ(replies.find("Kerberos"), std::string::npos) << "offers a scheme it refuses";
}

}  // namespace
}  // namespace hostlore::test
