// A whole agent run against the Samba peer, WMI refused: the registry and
// share method fills the inventory, stored in SQLite and in PostgreSQL and
// read back by column position.
#include <gtest/gtest.h>

#include <sstream>

#include "db/connect.h"
#include "db/db_fixture.h"
#include "db/postgres_server.h"
#include "db/table_queries.h"
#include "platform/samba_peer.h"
#include "platform/tcp_relay.h"
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
    "\"iCountry\"=\"49\"\n";

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

  // Runs the agent in the client namespace into `server`, then checks what
  // it stored there.
  void RunAndCheck(const std::string& server) {
    test::AgentProcessResult run;
    ASSERT_TRUE(peer_->namespaces().InClient([&] {
      run = test::RunAgentProcess("1," + peer_->address() + "," + server + ",,0", temp_.path(),
                                  {{"HOSTLORE_AUTH_FILE", peer_->AuthFile(kAdminUser, kAdminPassword)},
                                   {"HOSTLORE_WINRM_ENDPOINTS", "http:5985"}});
    }));
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

    const std::vector<std::string> s = Row(server, SoftwareRowQuery("PEER42"), 2, why_not);
    ASSERT_EQ(s.size(), 2u) << why_not;
    EXPECT_EQ(s[1],
              "Alpha Suite\xC2\xA7" "1.0\xC2\xA7" "C:\\Alpha\xC2\xA7\xC2\xA7\xC2\xA7^"
              "Beta Tool\xC2\xA7" "2.5\xC2\xA7\xC2\xA7\xC2\xA7\xC2\xA7");
    const std::vector<std::string> v = Row(server, ServicesRowQuery("PEER42"), 2, why_not);
    ASSERT_EQ(v.size(), 2u) << why_not;
    EXPECT_EQ(v[1].rfind("hlsvc1^hlsvc2^", 0), 0u) << v[1];
  }

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

}  // namespace
}  // namespace hostlore::testing
