// A whole agent run on the network backends against one namespace host:
// WMI over WinRM from the WS-Management test service, registry, services
// and shares over SMB from Samba, both answering for lab/pc042.json's
// computer, both with the NTLM account of one authentication file; the
// inventory lands in SQLite and is read back by column position.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "platform/network/smb/samba_peer.h"
#include "platform/network/wsman/wsman_peer_process.h"
#include "support/test_support.h"

namespace hostlore::testing {
namespace {

namespace fs = std::filesystem;

const char kRegistry[] =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName]\n"
    "\"ComputerName\"=\"PC042\"\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion]\n"
    "\"CurrentVersion\"=\"5.1\"\n"
    "\"CurrentBuildNumber\"=\"2600\"\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\WinZip1]\n"
    "\"DisplayName\"=\"WinZip\"\n"
    "\"DisplayVersion\"=\"9.0\"\n";

// Every row of `table`, each column as text ("" for NULL).
std::vector<std::vector<std::string>> Rows(const std::string& db, const std::string& table) {
  std::vector<std::vector<std::string>> rows;
  sqlite3* handle = nullptr;
  if (sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
    sqlite3_stmt* statement = nullptr;
    if (sqlite3_prepare_v2(handle, ("SELECT * FROM " + table).c_str(), -1, &statement,
                           nullptr) == SQLITE_OK) {
      while (sqlite3_step(statement) == SQLITE_ROW) {
        std::vector<std::string>& row = rows.emplace_back();
        for (int i = 0; i < sqlite3_column_count(statement); ++i) {
          const unsigned char* text = sqlite3_column_text(statement, i);
          row.emplace_back(text != nullptr ? reinterpret_cast<const char*>(text) : "");
        }
      }
    }
    sqlite3_finalize(statement);
  }
  sqlite3_close(handle);
  return rows;
}

TEST(WinrmAgentRunTest, WmiOverWinrmAndTheRestOverSmbLandInSqlite) {
  SambaPeerContent content;
  content.registry = kRegistry;
  content.services = {"Alerter", "Server", "Workstation"};
  content.c_blocks = 39078080;  // 40015953920 bytes
  content.c_free_blocks = 20971520;
  std::string why_not;
  std::unique_ptr<SambaPeer> samba = SambaPeer::Start(content, why_not);
  if (!samba) GTEST_SKIP() << "whole run skipped: " << why_not;

  test::TempFolder folder;
  test::WsmanPeerOptions options;
  options.computer = std::string(HOSTLORE_SOURCE_DIR) + "/lab/pc042.json";
  options.netns = samba->namespaces().peer_namespace();
  options.bind = samba->address();
  options.port = 5985;
  options.log = (folder.path() / "requests.log").string();
  options.env = {{"NTLM_USER_FILE", folder.Write("ntlm", std::string("PEER:") + kAdminUser + ":" +
                                                             kAdminPassword + "\n")},
                 {"KRB5_KTNAME", (folder.path() / "no-keytab").string()}};
  ASSERT_FALSE(options.netns.empty());
  std::unique_ptr<test::WsmanPeerProcess> wsman = test::WsmanPeerProcess::Start(options, why_not);
  ASSERT_TRUE(wsman) << why_not;

  const std::string db = (folder.path() / "hostlore.db").string();
  test::AgentProcessResult run;
  ASSERT_TRUE(samba->namespaces().InClient([&] {
    run = test::RunAgentProcess(
        "1," + samba->address() + ",sqlite:" + db + ",,0", folder.path(),
        {{"HOSTLORE_AUTH_FILE", samba->AuthFile(kAdminUser, kAdminPassword)},
         {"HOSTLORE_WINRM_ENDPOINTS", "http:5985"}});
  }));
  std::ostringstream log;
  for (const std::string& line : run.log) log << line << "\n";
  EXPECT_EQ(run.exit_status, 0) << run.stderr_text << log.str();
  EXPECT_EQ(log.str().find("Unable to access WMI"), std::string::npos) << log.str();

  const auto assets = Rows(db, "Asset");
  ASSERT_EQ(assets.size(), 1u) << log.str();
  const std::vector<std::string>& a = assets[0];
  ASSERT_GE(a.size(), 47u);
  EXPECT_EQ(a[0], "PC042");                           // Computer, from Win32_ComputerSystem
  EXPECT_EQ(a[1], "Dell Inc.");                       // Manufacturer
  EXPECT_EQ(a[2], "OptiPlex GX280");                  // Model
  EXPECT_EQ(a[4], "\\Device\\HarddiskVolume1");        // BootDevice
  EXPECT_EQ(a[6], "Microsoft Windows XP Professional");  // OperatingSystem
  EXPECT_EQ(a[8], "5.1.2600");                        // OSVersion
  EXPECT_EQ(a[9], "Intel(R) Pentium(R) 4 CPU 2.80GHz");  // Processor1, ten blanks gone
  EXPECT_EQ(std::stod(a[10]), 2793);                  // Processor1Speed
  EXPECT_EQ(a[17], "511");                            // TotalPhysicalMemory, MB
  EXPECT_EQ(a[18], "197");                            // FreePhysicalMemory, MB from KB
  EXPECT_EQ(a[23], "Dell Inc.");                      // BIOS
  EXPECT_EQ(a[25], "7XK2Q1J");                        // SerialNumber
  EXPECT_EQ(a[27], "OFFICE\\jsmith");                 // LoggedOnUser
  EXPECT_EQ(a[30], samba->address());                 // IPAddress
  EXPECT_EQ(a[31], "A:");                             // DriveACaption; no size (null)
  EXPECT_EQ(a[43], "C:");                             // DriveCCaption
  EXPECT_EQ(std::stod(a[44]), 38162);                 // DriveCSize, MB
  EXPECT_EQ(a[46], "SYSTEM");                         // DriveCVolumeName

  // The services come from the service manager over SMB, between two WMI
  // queries.
  const auto services = Rows(db, "Services");
  ASSERT_EQ(services.size(), 1u);
  EXPECT_NE(services[0][1].find("Alerter"), std::string::npos) << services[0][1] << log.str();

  // The five queries of the inventory, one Enumerate each.
  std::ifstream requests(options.log);
  int enumerates = 0;
  for (std::string line; std::getline(requests, line);) enumerates += line == "Enumerate";
  EXPECT_EQ(enumerates, 5);
}

}  // namespace
}  // namespace hostlore::testing
