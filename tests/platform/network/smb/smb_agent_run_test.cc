// A whole agent run against the Samba peer, WMI refused: the registry and
// share method fills the inventory (every software view of a 64-bit
// Windows, the hardware from the SMBIOS table and the processor keys),
// stored in SQLite and in PostgreSQL and read back by column position; and
// a run whose peer dies mid-way.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>

#include "db/connect.h"
#include "db/db_fixture.h"
#include "db/postgres_server.h"
#include "db/table_queries.h"
#include "platform/network/smb/samba_peer.h"
#include "platform/network/tcp_relay.h"
#include "support/test_support.h"

namespace hostlore::testing {
namespace {

const char kRegistry[] =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName]\n"
    "\"ComputerName\"=\"PEER42\"\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\AppB]\n"
    "\"DisplayName\"=\"Beta Tool\"\n"
    "\"DisplayVersion\"=\"2.5\"\n"
    "\"UninstallString\"=\"C:\\\\beta\\\\un.exe\"\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\AppA]\n"
    "\"DisplayName\"=\"Alpha Suite\"\n"
    "\"DisplayVersion\"=\"1.0\"\n"
    "\"InstallLocation\"=\"C:\\\\Alpha\"\n"
    "\"UninstallString\"=\"C:\\\\alpha\\\\un.exe\"\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\NoUninstaller]\n"
    "\"DisplayName\"=\"Left Out\"\n\n"
    "[HKEY_USERS\\.DEFAULT\\Control Panel\\International]\n"
    "\"iCountry\"=\"49\"\n\n"
    // The views a 64-bit Windows adds: 32-bit and per-user programs.
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion"
    "\\Uninstall\\AppW]\n"
    "\"DisplayName\"=\"Wow Tool\"\n"
    "\"UninstallString\"=\"C:\\\\wow\\\\un.exe\"\n\n"
    "[HKEY_USERS\\S-1-5-21-1-2-3-1001\\Software\\Microsoft\\Windows\\CurrentVersion"
    "\\Uninstall\\AppU]\n"
    "\"DisplayName\"=\"User App\"\n"
    "\"UninstallString\"=\"C:\\\\user\\\\un.exe\"\n\n"
    // The firmware's SMBIOS table (3.2: BIOS, system, one processor) and
    // the processor keys.
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Services\\mssmbios\\Data]\n"
    "\"SMBiosData\"=hex:00,03,02,00,cc,00,00,00,00,18,00,00,01,02,00,f0,03,ff,00,00,00,00,00,00,00,"
    "00,01,0c,01,17,ff,ff,50,65,65,72,20,42,49,4f,53,20,43,6f,2e,00,50,31,2e,30,37,00,30,31,2f,30,"
    "32,2f,32,30,32,34,00,00,01,1b,01,00,01,02,00,03,00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,"
    "0f,06,00,00,50,65,65,72,20,53,79,73,74,65,6d,73,00,50,65,65,72,20,42,6f,78,20,34,32,00,50,45,"
    "45,52,2d,53,4e,2d,30,30,34,32,00,00,04,30,04,00,01,03,c6,02,00,00,00,00,00,00,00,00,03,00,64,"
    "00,24,13,60,09,41,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,43,50,"
    "55,30,00,47,65,6e,75,69,6e,65,49,6e,74,65,6c,00,50,65,65,72,20,43,50,55,00,00,7f,04,ff,fe,00,"
    "00\n\n"
    "[HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0]\n"
    "\"ProcessorNameString\"=\"  Peer CPU\"\n"
    "\"~MHz\"=dword:00000960\n\n"
    "[HKEY_LOCAL_MACHINE\\HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\1]\n"
    "\"ProcessorNameString\"=\"  Peer CPU\"\n"
    "\"~MHz\"=dword:00000960\n";

// The columns of one row as text ("" for Null), or why not.
std::vector<std::string> Row(const std::string& server, const TableQuery& query,
                             int columns, std::string& why_not) {
  std::vector<std::string> row;
  Result<std::unique_ptr<Database>> db = ConnectDatabase(server);
  if (!db.ok()) {
    why_not = db.status().description();
    return row;
  }
  Result<std::unique_ptr<RecordSet>> set = db.value()->Open(query);
  if (!set.ok() || set.value()->RecordCount() != 1) {
    why_not = "no single row in " + query.table;
    return row;
  }
  for (int i = 0; i < columns; ++i) {
    Result<FieldValue> field = set.value()->Field(i);
    Result<std::string> text = field.ok() && !field->is_null() ? ValueAsText(field.value())
                                                              : Result<std::string>("");
    row.push_back(text.ok() ? text.value() : "?");
  }
  return row;
}

class SmbAgentRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SambaPeerContent content;
    content.registry = kRegistry;
    content.services = {"hlsvc1", "hlsvc2"};
    content.c_blocks = 10240000;  // 10000 MB
    content.c_free_blocks = 2560000;
    content.d_blocks = 2048;
    content.d_free_blocks = 1024;
    std::string why_not;
    peer_ = SambaPeer::Start(content, why_not);
    if (!peer_) GTEST_SKIP() << "whole run skipped: " << why_not;
  }

  // Runs the agent in the client namespace on `target` into `server`, its
  // Temp folder `temp`.
  test::AgentProcessResult RunAgent(const std::string& target, const std::string& server,
                                    const std::filesystem::path& temp) {
    test::AgentProcessResult run;
    EXPECT_TRUE(peer_->namespaces().InClient([&] {
      run = test::RunAgentProcess("1," + target + "," + server + ",,0", temp,
                                  {{"HOSTLORE_AUTH_FILE", peer_->AuthFile(kAdminUser, kAdminPassword)},
                                   {"HOSTLORE_WINRM_ENDPOINTS", "http:5985"}});
    }));
    return run;
  }

  // Runs the agent on the peer into `server`, then checks what it stored
  // there.
  void RunAndCheck(const std::string& server) {
    const test::AgentProcessResult run = RunAgent(peer_->address(), server, temp_.path());
    std::ostringstream log;
    for (const std::string& line : run.log) log << line << "\n";
    EXPECT_EQ(run.exit_status, 0) << run.stderr_text << log.str();
    EXPECT_NE(log.str().find("Unable to access WMI"), std::string::npos) << log.str();
    ASSERT_FALSE(run.progress.empty());
    EXPECT_EQ(run.progress.back(), "PEER42,Complete," + peer_->address() + ",0");

    std::string why_not;
    const std::string address = peer_->address();
    const std::vector<std::string> a = Row(server, AssetRowQuery("PEER42"), 61, why_not);
    ASSERT_EQ(a.size(), 61u) << why_not;
    EXPECT_EQ(a[0], "PEER42");          // Computer, the name the registry gives
    EXPECT_EQ(a[6], "6.1");             // OperatingSystem, as Samba serves CurrentVersion
    EXPECT_EQ(a[8], "6.1.");            // OSVersion: Samba has no CurrentBuildNumber
    EXPECT_EQ(a[21], "49");             // CountryCode, from HKU
    EXPECT_EQ(a[22], "c:\\Windows");    // WindowsDirectory, Samba's SystemRoot
    EXPECT_EQ(a[30], address);          // IPAddress
    EXPECT_EQ(a[43], "C:");             // DriveCCaption
    EXPECT_EQ(a[44], "10000");          // DriveCSize, MB
    EXPECT_EQ(a[45], "2500");           // DriveCFreeSpace, MB
    EXPECT_EQ(a[49], "D:");             // DriveDCaption
    EXPECT_EQ(a[50], "2");              // DriveDSize, MB
    EXPECT_EQ(a[55], "");               // DriveECaption: no e$ share
    EXPECT_EQ(a[1], "Peer Systems");    // Manufacturer, from the SMBIOS table
    EXPECT_EQ(a[2], "Peer Box 42");     // Model
    EXPECT_EQ(a[9], "Peer CPU");        // Processor1, two leading blanks dropped as WMI drops them
    EXPECT_EQ(a[10], "2400");           // Processor1Speed, MHz
    EXPECT_EQ(a[11], "");               // one socket: no Processor2
    EXPECT_EQ(a[23], "Peer BIOS Co.");  // BIOS
    EXPECT_EQ(a[24], "P1.07");          // BIOSVersion
    EXPECT_EQ(a[25], "PEER-SN-0042");   // SerialNumber

    const std::vector<std::string> s = Row(server, SoftwareRowQuery("PEER42"), 2, why_not);
    ASSERT_EQ(s.size(), 2u) << why_not;
    EXPECT_EQ(s[1],
              "Alpha Suite\xC2\xA7"
              "1.0\xC2\xA7"
              "C:\\Alpha\xC2\xA7\xC2\xA7\xC2\xA7^"
              "Beta Tool\xC2\xA7"
              "2.5\xC2\xA7\xC2\xA7\xC2\xA7\xC2\xA7^"
              "User App\xC2\xA7\xC2\xA7\xC2\xA7\xC2\xA7\xC2\xA7^"
              "Wow Tool\xC2\xA7\xC2\xA7\xC2\xA7\xC2\xA7\xC2\xA7");
    const std::vector<std::string> v = Row(server, ServicesRowQuery("PEER42"), 2, why_not);
    ASSERT_EQ(v.size(), 2u) << why_not;
    EXPECT_EQ(v[1].rfind("hlsvc1^hlsvc2^", 0), 0u) << v[1];
  }

  void CheckPeerKilledAt(const std::string& value_name);

  std::unique_ptr<SambaPeer> peer_;
  test::TempFolder temp_;
};

TEST_F(SmbAgentRunTest, RegistryAndShareMethodLandsInSqlite) {
  RunAndCheck("sqlite:" + (temp_.path() / "hostlore.db").string());
}

TEST_F(SmbAgentRunTest, RegistryAndShareMethodLandsInPostgresql) {
  test::PostgresServer* postgres = test::PostgresServer::Shared();
  if (postgres == nullptr) GTEST_SKIP() << test::PostgresServer::SkipReason();
  // The server listens on the loopback of our own namespace; a relay on the
  // client namespace's loopback, same port, lets the agent reach it by the
  // same address.
  int listener = -1;
  ASSERT_TRUE(peer_->namespaces().InClient(
      [&] { listener = ListenOn({127, 0, 0, 1}, static_cast<uint16_t>(postgres->port())); }));
  ASSERT_GE(listener, 0);
  TcpRelay relay(listener, {127, 0, 0, 1}, static_cast<uint16_t>(postgres->port()),
                 std::chrono::microseconds(0));
  RunAndCheck(test::NewDatabase(test::DbEngine::kPostgreSql, temp_));
}

// The peer dies (smbd and its RPC daemons, SIGKILL) while the agent reads
// the values of the installed programs, at the request that first carries
// `value_name` (UTF-16): from then on the registry cannot be read. The agent
// must end by itself, at once (a dead peer resets the connection: no request
// waits out its time-out, and the transport failure marks the target down),
// through the failure path, and leave the stored inventory and history as
// the last whole run left them: what it read after the loss is empty, and
// stored it would clear fields and record removals that never happened.
void SmbAgentRunTest::CheckPeerKilledAt(const std::string& value_name) {
  const std::string server = "sqlite:" + (temp_.path() / "hostlore.db").string();
  // The agent reaches the peer through a relay on its own loopback, so that
  // the test can cut the conversation at a request of its choice.
  const Ipv4Address loopback{127, 0, 0, 1};
  const std::string target = "127.0.0.1";
  std::unique_ptr<TcpRelay> relay;
  ASSERT_TRUE(peer_->namespaces().InClient([&] {
    const int listener = ListenOn(loopback, 445);
    if (listener >= 0) {
      relay = std::make_unique<TcpRelay>(listener, kPeerAddress, 445, std::chrono::microseconds(0));
    }
  }));
  ASSERT_TRUE(relay) << "cannot listen on port 445 of the client's loopback";

  test::TempFolder whole_temp;
  const test::AgentProcessResult whole = RunAgent(target, server, whole_temp.path());
  ASSERT_EQ(whole.exit_status, 0) << whole.stderr_text;
  std::string why_not;
  const std::vector<std::string> asset_before = Row(server, AssetRowQuery("PEER42"), 94, why_not);
  ASSERT_EQ(asset_before.size(), 94u) << why_not;
  ASSERT_NE(asset_before[92], "");
  const std::vector<std::string> software_before =
      Row(server, SoftwareRowQuery("PEER42"), 2, why_not);
  ASSERT_EQ(software_before.size(), 2u) << why_not;
  ASSERT_NE(software_before[1], "");
  const std::vector<std::string> services_before =
      Row(server, ServicesRowQuery("PEER42"), 2, why_not);
  const std::vector<std::string> drive_before =
      Row(server, DriveHistoryRowQuery("PEER42~C"), 2, why_not);
  ASSERT_EQ(drive_before.size(), 2u) << why_not;

  std::string wire_name;
  for (char c : value_name) wire_name += {c, '\0'};
  using Clock = std::chrono::steady_clock;
  std::atomic<Clock::rep> killed_at{0};
  relay->DropClientBytesFrom(wire_name, [&] {
    peer_->Kill();
    killed_at = Clock::now().time_since_epoch().count();
  });
  test::TempFolder lost_temp;
  const test::AgentProcessResult lost = RunAgent(target, server, lost_temp.path());
  const Clock::time_point ended_at = Clock::now();
  ASSERT_NE(killed_at.load(), 0) << "no request carried " << value_name;
  const auto ending = std::chrono::duration_cast<std::chrono::milliseconds>(
      ended_at - Clock::time_point(Clock::duration(killed_at.load())));
  // Measured: 10 to 50 ms. The SMB request time-out (5 s) is for a peer
  // that stops answering with its connections up; a dead one costs none.
  EXPECT_LT(ending.count(), 2000) << "ended " << ending.count() << " ms after the kill";

  std::ostringstream log;
  for (const std::string& line : lost.log) log << line << "\n";
  EXPECT_EQ(lost.exit_status, 1) << lost.stderr_text << log.str();
  ASSERT_FALSE(lost.progress.empty());
  EXPECT_EQ(lost.progress.back(), "PEER42,Complete," + target + ",0");
  ASSERT_FALSE(lost.log.empty());
  // The failure path names the target as the command line gave it.
  EXPECT_EQ(lost.log.back().substr(20).rfind(
                "Hostlore.Scan," + target + ":connection lost during the scan, nothing stored: ",
                0),
            0u)
      << log.str();

  // Nothing stored is lost or half-written: the software list, the history
  // (no program recorded as removed) and every other column are as the
  // whole run left them, but for the time of the last contact.
  std::vector<std::string> asset_after = Row(server, AssetRowQuery("PEER42"), 94, why_not);
  ASSERT_EQ(asset_after.size(), 94u) << why_not;
  asset_after[26] = asset_before[26];
  EXPECT_EQ(asset_after, asset_before);
  EXPECT_EQ(Row(server, SoftwareRowQuery("PEER42"), 2, why_not), software_before);
  EXPECT_EQ(Row(server, ServicesRowQuery("PEER42"), 2, why_not), services_before);
  EXPECT_EQ(Row(server, DriveHistoryRowQuery("PEER42~C"), 2, why_not), drive_before);
}

// Lost before any program was read: the list would come out empty.
TEST_F(SmbAgentRunTest, PeerKilledAtTheFirstProgramStoresNothing) {
  CheckPeerKilledAt("DisplayName");
}

// Lost after the first program was read (the next keys' values are asked
// together, their names in lower case): the list would come out cut short,
// and the history would record the other programs as removed.
TEST_F(SmbAgentRunTest, PeerKilledAfterSomeProgramsStoresNothing) {
  CheckPeerKilledAt("displayname");
}

}  // namespace
}  // namespace hostlore::testing
