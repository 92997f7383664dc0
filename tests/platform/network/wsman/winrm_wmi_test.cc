// The WinRM backend of the WMI seam against the WS-Management test service,
// with a real KDC for Kerberos and gss-ntlmssp for NTLM.
#include "platform/network/wsman/winrm_wmi.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <thread>

#include "platform/network/kdc_realm.h"
#include "platform/network/target_names.h"
#include "platform/network/wsman/spnego_auth.h"
#include "platform/network/wsman/wsman_response.h"
#include "platform/network/wsman/wsman_peer_process.h"

namespace hostlore::test {
namespace {

using wsman::Endpoint;
using wsman::WinrmOptions;

const char* const kComputer = R"({
  "address": "127.0.0.1",
  "wmi": {
    "Win32_ComputerSystem": [{"Name": "PC042", "UserName": null, "Manufacturer": "Dell Inc.",
                              "TotalPhysicalMemory": "536330240"}],
    "Win32_OperatingSystem": [{"Caption": "Microsoft Windows XP Professional",
                               "FreePhysicalMemory": "201328", "Version": "5.1.2600"}],
    "Win32_Processor": [{"Name": "  Intel(R)  Xeon(TM) <2.80GHz> & more", "currentclockspeed": 2793},
                        {"Name": "Second", "currentclockspeed": 1500.5}],
    "Win32_BIOS": [{"Manufacturer": "Dell Inc.", "SMBIOSBIOSVersion": "A05",
                    "SerialNumber": "7XK2Q1J"}],
    "Win32_LogicalDisk": [{"Caption": "A:", "Size": null, "freespace": null},
                          {"Caption": "C:", "Size": "40015953920", "freespace": "21474836480",
                           "volumename": "SYSTEM"},
                          {"Caption": "D:", "Size": null},
                          {"Caption": "H:", "Size": "214748364800", "volumename": "home"}],
    "Win32_QuickFixEngineering": {"error": "Invalid class", "number": -2147217392}
  }
})";

// What a property reads as: its text, "<null>", or "<missing>".
std::string Read(WmiObject& object, const char* property) {
  Result<WmiValue> value = object.Get(property);
  if (!value.ok()) return value.status().number() == kWbemNotFound ? "<missing>" : "<failed>";
  if (value->is_null()) return "<null>";
  return std::get<std::string>(value->value);
}

// Every instance of `wql`; a failure of the query or of the walk is a
// failed assertion.
std::vector<std::unique_ptr<WmiObject>> All(WmiConnection& connection, const std::string& wql) {
  std::vector<std::unique_ptr<WmiObject>> objects;
  Result<std::unique_ptr<WmiObjectSet>> set = connection.ExecQuery(wql);
  EXPECT_TRUE(set.ok()) << wql << ": " << set.status().description();
  if (!set.ok()) return objects;
  while (true) {
    Result<std::unique_ptr<WmiObject>> next = set.value()->Next();
    EXPECT_TRUE(next.ok()) << wql << ": " << next.status().description();
    if (!next.ok() || !next.value()) return objects;
    objects.push_back(std::move(next).value());
  }
}

std::map<std::string, int> CountLines(const std::string& path) {
  std::map<std::string, int> counts;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) ++counts[line];
  return counts;
}

class WinrmWmiTest : public ::testing::Test {
 protected:
  static std::unique_ptr<KdcRealm>& Realm() {
    static std::unique_ptr<KdcRealm> realm;
    return realm;
  }
  static std::string& WhyNoRealm() {
    static std::string why;
    return why;
  }
  static void SetUpTestSuite() { Realm() = KdcRealm::Start(WhyNoRealm()); }
  static void TearDownTestSuite() { Realm().reset(); }

  void SetUp() override {
    if (!Realm()) GTEST_SKIP() << "WinRM tests skipped: " << WhyNoRealm();
    ccache_ = (folder_.path() / "ccache").string();
    config_ = std::make_unique<ScopedEnv>("KRB5_CONFIG", Realm()->config());
    cache_ = std::make_unique<ScopedEnv>("KRB5CCNAME", "FILE:" + ccache_);
    no_auth_file_ = std::make_unique<ScopedEnv>("HOSTLORE_AUTH_FILE", std::nullopt);
    ASSERT_TRUE(Realm()->Kinit(ccache_, "10m"));
    options_.computer = folder_.Write("pc.json", kComputer).string();
    options_.log = (folder_.path() / "requests.log").string();
    options_.env = {{"KRB5_CONFIG", Realm()->config()},
                    {"KRB5_KTNAME", Realm()->service_keytab()},
                    {"NTLM_USER_FILE", folder_.Write("ntlm_users", "OFFICE:jsmith:Secret-1\n")}};
  }

  // The peer with `options_`; nullptr (and the test skipped) when it does
  // not start.
  std::unique_ptr<WsmanPeerProcess> StartPeer() {
    std::string why_not;
    std::unique_ptr<WsmanPeerProcess> peer = WsmanPeerProcess::Start(options_, why_not);
    if (!peer) ADD_FAILURE() << why_not;
    return peer;
  }

  static WinrmOptions Options(bool https, int port) {
    WinrmOptions options;
    options.endpoints = {Endpoint{https, port}};
    options.http.connect_timeout = std::chrono::milliseconds(2000);
    options.http.request_timeout = std::chrono::milliseconds(10000);
    return options;
  }

  Result<std::unique_ptr<WmiConnection>> Connect(const WinrmOptions& options) {
    return wsman::NewWinrmWmi(options)->Connect("127.0.0.1");
  }

  void WriteAuthFile(const std::string& password, mode_t mode) {
    const std::string path =
        folder_.Write("auth", "username = jsmith\npassword = " + password + "\ndomain = OFFICE\n")
            .string();
    ::chmod(path.c_str(), mode);
    auth_file_.reset();  // restores the variable before it is set again
    auth_file_ = std::make_unique<ScopedEnv>("HOSTLORE_AUTH_FILE", path);
  }

  TempFolder folder_;
  std::string ccache_;
  std::unique_ptr<ScopedEnv> config_;
  std::unique_ptr<ScopedEnv> cache_;
  std::unique_ptr<ScopedEnv> no_auth_file_;
  std::unique_ptr<ScopedEnv> auth_file_;
  WsmanPeerOptions options_;
};

TEST_F(WinrmWmiTest, KerberosOverEncryptedHttpReadsTheFiveClasses) {
  std::unique_ptr<WsmanPeerProcess> peer = StartPeer();
  if (!peer) return;
  Result<std::unique_ptr<WmiConnection>> connection = Connect(Options(false, peer->port()));
  ASSERT_TRUE(connection.ok()) << connection.status().description();
  WmiConnection& wmi = *connection.value();

  auto systems = All(wmi, "Select * From Win32_ComputerSystem");
  ASSERT_EQ(systems.size(), 1u);
  EXPECT_EQ(Read(*systems[0], "name"), "PC042");
  EXPECT_EQ(Read(*systems[0], "UserName"), "<null>");
  EXPECT_EQ(Read(*systems[0], "Model"), "<missing>");
  EXPECT_EQ(Read(*systems[0], "TotalPhysicalMemory"), "536330240");

  auto systems_os = All(wmi, "Select * From Win32_OperatingSystem");
  ASSERT_EQ(systems_os.size(), 1u);
  EXPECT_EQ(Read(*systems_os[0], "Caption"), "Microsoft Windows XP Professional");

  auto processors = All(wmi, "Select * From Win32_Processor");
  ASSERT_EQ(processors.size(), 2u);
  EXPECT_EQ(Read(*processors[0], "Name"), "  Intel(R)  Xeon(TM) <2.80GHz> & more");
  EXPECT_EQ(Read(*processors[0], "CurrentClockSpeed"), "2793");
  EXPECT_EQ(Read(*processors[1], "currentclockspeed"), "1500.5");

  auto bios = All(wmi, "Select * From Win32_BIOS");
  ASSERT_EQ(bios.size(), 1u);
  EXPECT_EQ(Read(*bios[0], "SMBIOSBIOSVersion"), "A05");

  auto disks = All(wmi, "Select * From Win32_LogicalDisk");
  ASSERT_EQ(disks.size(), 4u);
  EXPECT_EQ(Read(*disks[0], "Size"), "<null>");
  EXPECT_EQ(Read(*disks[1], "freespace"), "21474836480");
  EXPECT_EQ(Read(*disks[2], "freespace"), "<missing>");
  EXPECT_EQ(Read(*disks[3], "Caption"), "H:");

  EXPECT_TRUE(All(wmi, "Select * From Win32_Battery").empty());

  // One Enumerate per class, no Pull, and one Kerberos leg for the session.
  std::map<std::string, int> requests = CountLines(options_.log);
  EXPECT_EQ(requests["auth"], 1);
  EXPECT_EQ(requests["Identify"], 1);
  EXPECT_EQ(requests["Enumerate"], 6);
  EXPECT_EQ(requests["Pull"], 0);
}

TEST_F(WinrmWmiTest, KerberosAuthenticatesToTheTargetsHostName) {
  // The agent reaches the address; the name it was given, which resolves
  // there, names the service for Kerberos: HTTP/localhost, not
  // HTTP/127.0.0.1.
  std::unique_ptr<WsmanPeerProcess> peer = StartPeer();
  if (!peer) return;
  auto names = std::make_shared<TargetNames>();
  names->Noted("localhost");
  Result<std::unique_ptr<WmiConnection>> connection =
      wsman::NewWinrmWmi(Options(false, peer->port()), names)->Connect("127.0.0.1");
  ASSERT_TRUE(connection.ok()) << connection.status().description();
  EXPECT_EQ(All(*connection.value(), "Select * From Win32_BIOS").size(), 1u);
  std::string tickets;
  FILE* klist = ::popen(("klist -c '" + ccache_ + "' 2>&1").c_str(), "r");
  ASSERT_NE(klist, nullptr);
  char chunk[256];
  for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, klist)) > 0;) tickets.append(chunk, n);
  ::pclose(klist);
  EXPECT_NE(tickets.find("HTTP/localhost@HOSTLORE.TEST"), std::string::npos) << tickets;
  EXPECT_EQ(tickets.find("HTTP/127.0.0.1@"), std::string::npos) << tickets;
}

TEST_F(WinrmWmiTest, LongResultsArriveOverSeveralPulls) {
  options_.page = 3;  // the service's limit, below what the client asks for
  std::unique_ptr<WsmanPeerProcess> peer = StartPeer();
  if (!peer) return;
  WinrmOptions options = Options(false, peer->port());
  Result<std::unique_ptr<WmiConnection>> connection = Connect(options);
  ASSERT_TRUE(connection.ok()) << connection.status().description();
  EXPECT_EQ(All(*connection.value(), "Select * From Win32_LogicalDisk").size(), 4u);
  EXPECT_EQ(CountLines(options_.log)["Pull"], 1);

  options.max_elements = 1;  // the client's limit
  connection = Connect(options);
  ASSERT_TRUE(connection.ok()) << connection.status().description();
  auto disks = All(*connection.value(), "Select * From Win32_LogicalDisk");
  ASSERT_EQ(disks.size(), 4u);
  EXPECT_EQ(Read(*disks[3], "volumename"), "home");
  EXPECT_EQ(CountLines(options_.log)["Pull"], 1 + 3);
}

TEST_F(WinrmWmiTest, FaultsFailTheQueryWithTheWmiCode) {
  std::unique_ptr<WsmanPeerProcess> peer = StartPeer();
  if (!peer) return;
  Result<std::unique_ptr<WmiConnection>> connection = Connect(Options(false, peer->port()));
  ASSERT_TRUE(connection.ok()) << connection.status().description();
  Result<std::unique_ptr<WmiObjectSet>> failed =
      connection.value()->ExecQuery("Select * From Win32_QuickFixEngineering");
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.status().number(), 0x80041010);
  EXPECT_EQ(failed.status().description(), "Invalid class");

  failed = connection.value()->ExecQuery("Win32_BIOS");
  ASSERT_FALSE(failed.ok());
  EXPECT_EQ(failed.status().number(), 0x80041017);
  // The session goes on after a fault.
  EXPECT_EQ(All(*connection.value(), "Select * From Win32_BIOS").size(), 1u);
}

TEST_F(WinrmWmiTest, AServiceThatStopsMidEnumerationBreaksTheWalk) {
  options_.stop_after = 2;
  std::unique_ptr<WsmanPeerProcess> peer = StartPeer();
  if (!peer) return;
  WinrmOptions options = Options(false, peer->port());
  options.max_elements = 1;
  Result<std::unique_ptr<WmiConnection>> connection = Connect(options);
  ASSERT_TRUE(connection.ok()) << connection.status().description();
  Result<std::unique_ptr<WmiObjectSet>> set =
      connection.value()->ExecQuery("Select * From Win32_LogicalDisk");
  ASSERT_TRUE(set.ok()) << set.status().description();
  EXPECT_TRUE(set.value()->Next().ok());
  EXPECT_TRUE(set.value()->Next().ok());
  Result<std::unique_ptr<WmiObject>> broken = set.value()->Next();
  ASSERT_FALSE(broken.ok());
  EXPECT_EQ(broken.status().number(), wsman::kUnreachable) << broken.status().description();
  // The walk stays ended rather than asking a dead service again.
  EXPECT_FALSE(set.value()->Next().ok() && set.value()->Next().value() != nullptr);
}

TEST_F(WinrmWmiTest, ARefusedPortFailsTheConnection) {
  std::unique_ptr<WsmanPeerProcess> peer = StartPeer();
  if (!peer) return;
  const int port = peer->port();
  peer.reset();  // nobody listens there now
  Result<std::unique_ptr<WmiConnection>> connection = Connect(Options(false, port));
  ASSERT_FALSE(connection.ok());
  EXPECT_EQ(connection.status().number(), wsman::kUnreachable);
  EXPECT_NE(connection.status().description().find("http://127.0.0.1:" + std::to_string(port)),
            std::string::npos)
      << connection.status().description();
}

TEST_F(WinrmWmiTest, NtlmTakesTheAuthenticationFile) {
  std::unique_ptr<WsmanPeerProcess> peer = StartPeer();
  if (!peer) return;
  const WinrmOptions options = Options(false, peer->port());

  WriteAuthFile("Secret-1", 0600);
  Result<std::unique_ptr<WmiConnection>> connection = Connect(options);
  ASSERT_TRUE(connection.ok()) << connection.status().description();
  auto bios = All(*connection.value(), "Select * From Win32_BIOS");
  ASSERT_EQ(bios.size(), 1u);
  EXPECT_EQ(Read(*bios[0], "SerialNumber"), "7XK2Q1J");
  std::map<std::string, int> requests = CountLines(options_.log);
  EXPECT_EQ(requests["auth"], 2);  // negotiate, then authenticate
  // The challenge carried a time stamp, as Windows's does, so the client
  // signed the exchange with a MIC, which the service checked.
  EXPECT_EQ(requests["ntlm-timestamp"], 1);
  EXPECT_EQ(requests["ntlm-mic"], 1);

  WriteAuthFile("wrong", 0600);
  connection = Connect(options);
  ASSERT_FALSE(connection.ok());
  EXPECT_EQ(connection.status().number(), wsman::kAuthenticationFailed);
  EXPECT_EQ(connection.status().description().find("wrong"), std::string::npos);

  WriteAuthFile("Secret-1", 0640);
  connection = Connect(options);
  ASSERT_FALSE(connection.ok());
  EXPECT_NE(connection.status().description().find("group or others"), std::string::npos);
}

TEST_F(WinrmWmiTest, MissingOrExpiredTicketsFailTheConnection) {
  std::unique_ptr<WsmanPeerProcess> peer = StartPeer();
  if (!peer) return;
  const WinrmOptions options = Options(false, peer->port());
  {
    ScopedEnv none("KRB5CCNAME", "FILE:" + (folder_.path() / "no-such-cache").string());
    Result<std::unique_ptr<WmiConnection>> connection = Connect(options);
    ASSERT_FALSE(connection.ok());
    EXPECT_EQ(connection.status().number(), wsman::kAuthenticationFailed);
  }
  ASSERT_TRUE(Realm()->Kinit(ccache_, "1s"));
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  Result<std::unique_ptr<WmiConnection>> connection = Connect(options);
  ASSERT_FALSE(connection.ok());
  EXPECT_EQ(connection.status().number(), wsman::kAuthenticationFailed)
      << connection.status().description();
  EXPECT_EQ(CountLines(options_.log)["Identify"], 0);
}

TEST_F(WinrmWmiTest, HttpsTrustsTheNamedAuthorityAndNeverFallsBackFromAFailedCertificate) {
  const std::string dir = folder_.path().string();
  if (!MakeTestCertificates(dir)) GTEST_SKIP() << "openssl cannot make the test certificates";
  options_.tls_cert = dir + "/peer.pem";
  options_.tls_key = dir + "/peer.key";
  // As Windows with CbtHardeningLevel "Strict": a context that is not bound
  // to this TLS channel (by the hash of this certificate) is refused.
  options_.strict_channel_binding = true;
  std::unique_ptr<WsmanPeerProcess> peer = StartPeer();
  if (!peer) return;

  WinrmOptions options = Options(true, peer->port());
  options.http.ca_file = dir + "/ca.pem";
  Result<std::unique_ptr<WmiConnection>> connection = Connect(options);
  ASSERT_TRUE(connection.ok()) << connection.status().description();
  EXPECT_EQ(All(*connection.value(), "Select * From Win32_Processor").size(), 2u);
  // NTLM binds the channel as well.
  WriteAuthFile("Secret-1", 0600);
  connection = Connect(options);
  ASSERT_TRUE(connection.ok()) << connection.status().description();
  EXPECT_EQ(All(*connection.value(), "Select * From Win32_BIOS").size(), 1u);
  EXPECT_EQ(CountLines(options_.log)["unbound"], 0);

  // Behind HTTPS, a plain HTTP service that would answer. An HTTPS port
  // that refuses passes on to it; a certificate that fails its check ends
  // the attempt there, and the reason says so.
  options_.tls_cert.clear();
  options_.tls_key.clear();
  options_.strict_channel_binding = false;
  options_.log = (folder_.path() / "plain.log").string();
  std::unique_ptr<WsmanPeerProcess> plain = StartPeer();
  if (!plain) return;
  options.endpoints = {Endpoint{true, 1}, Endpoint{false, plain->port()}};
  EXPECT_TRUE(Connect(options).ok());
  const int identified = CountLines(options_.log)["Identify"];
  EXPECT_GT(identified, 0);
  options.http.ca_file.clear();
  options.endpoints = {Endpoint{true, peer->port()}, Endpoint{false, plain->port()}};
  connection = Connect(options);
  ASSERT_FALSE(connection.ok());
  EXPECT_EQ(connection.status().number(), wsman::kCertificateRejected);
  const std::string& why = connection.status().description();
  EXPECT_NE(why.find("https://127.0.0.1:" + std::to_string(peer->port())), std::string::npos) << why;
  EXPECT_NE(why.find("certificate failed its check, so no other endpoint (plain HTTP) is tried"),
            std::string::npos) << why;
  EXPECT_EQ(CountLines(options_.log)["Identify"], identified);
}

TEST(WinrmEndpointsTest, ListsParseInOrderAndBadOnesFail) {
  Result<std::vector<Endpoint>> parsed = wsman::ParseEndpoints("http:15985,https:443");
  ASSERT_TRUE(parsed.ok());
  ASSERT_EQ(parsed->size(), 2u);
  EXPECT_FALSE(parsed.value()[0].https);
  EXPECT_EQ(parsed.value()[0].port, 15985);
  EXPECT_TRUE(parsed.value()[1].https);
  for (const char* bad : {"", "ftp:21", "http", "http:0", "https:70000", ",http:80"}) {
    EXPECT_FALSE(wsman::ParseEndpoints(bad).ok()) << bad;
  }
}

}  // namespace
}  // namespace hostlore::test
