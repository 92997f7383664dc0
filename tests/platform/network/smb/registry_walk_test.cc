// Whole agent runs over a Samba peer with 300 programs, on each route of
// the registry walk: one pipe, parallel pipes, the hive snapshot asked for.
// Every route must store the same inventory; a peer killed while the pipes
// walk stores nothing. Samba refuses the snapshot's save (its registry
// service finds no share for the file), so the snapshot run shows the
// fall-back to the walk and that it leaves nothing on the peer.
#include <gtest/gtest.h>


#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#include "db/connect.h"
#include "db/table_queries.h"
#include "platform/network/smb/samba_peer.h"
#include "platform/network/tcp_relay.h"
#include "support/test_support.h"

namespace hostlore::testing {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kPrograms = 300;

std::string Wide(std::string_view text) {
  std::string units;
  for (char c : text) units += {c, '\0'};
  return units;
}

// A .reg value of type REG_EXPAND_SZ.
std::string ExpandSz(std::string_view text) {
  std::string hex = "hex(2):";
  char byte[4];
  for (char c : Wide(text) + std::string(2, '\0')) {
    std::snprintf(byte, sizeof byte, "%02x,", static_cast<unsigned char>(c));
    hex += byte;
  }
  hex.pop_back();
  return hex;
}

// Uninstall entries with values missing here and there, an expandable
// location, some without an uninstall string; installer data of two
// profiles, one product without its InstallProperties.
std::string Registry() {
  std::ostringstream reg;
  reg << "Windows Registry Editor Version 5.00\n\n";
  reg << "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\ComputerName\\"
         "ActiveComputerName]\n\"ComputerName\"=\"WALKER\"\n\n";
  for (int i = 0; i < kPrograms; ++i) {
    reg << "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Prog"
        << i << "]\n\"DisplayName\"=\"Program " << i % 280 << "\"\n";
    if (i % 7 != 3) reg << "\"DisplayVersion\"=\"1." << i << "\"\n";
    if (i % 5 == 0) {
      reg << "\"InstallLocation\"=" << ExpandSz("%ProgramFiles%\\P" + std::to_string(i)) << "\n";
    } else {
      reg << "\"InstallLocation\"=\"C:\\\\Programs\\\\P" << i << "\"\n";
    }
    if (i % 13 == 0) reg << "\"ProductID\"=\"PID-" << i << "\"\n";
    if (i % 11 != 0) reg << "\"UninstallString\"=\"C:\\\\Programs\\\\P" << i << "\\\\un.exe\"\n";
    reg << "\n";
  }
  const std::string products =
      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer\\UserData\\";
  for (const auto& [profile, count] : {std::pair<std::string, int>{"S-1-5-18", 20},
                                       std::pair<std::string, int>{"S-1-5-21-7-1001", 3}}) {
    for (int p = 0; p < count; ++p) {
      reg << "[" << products << profile << "\\Products\\" << profile.size() << "F00D" << p
          << "\\InstallProperties]\n\"DisplayName\"=\"Installed " << p << "\"\n"
          << "\"DisplayVersion\"=\"2." << p << "\"\n\"RegCompany\"=\"Corp\"\n";
      if (p % 2 == 0) reg << "\"RegOwner\"=\"Owner " << p << "\"\n";
      reg << "\n";
    }
    reg << "[" << products << profile << "\\Products\\NoProperties]\n\"Other\"=\"x\"\n\n";
  }
  return reg.str();
}

// The software list stored for WALKER in `server`, or why not.
std::string StoredSoftware(const std::string& server) {
  Result<std::unique_ptr<Database>> db = ConnectDatabase(server);
  if (!db.ok()) return "(no database: " + db.status().description() + ")";
  Result<std::unique_ptr<RecordSet>> set = db.value()->Open(SoftwareRowQuery("WALKER"));
  if (!set.ok() || set.value()->RecordCount() != 1) return "(no software row)";
  Result<FieldValue> field = set.value()->Field(1);
  if (!field.ok() || field->is_null()) return "(no software list)";
  Result<std::string> text = ValueAsText(field.value());
  return text.ok() ? text.value() : "(unreadable)";
}

std::string Joined(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

class RegistryWalkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SambaPeerContent content;
    content.registry = Registry();
    content.admin_share = true;
    std::string why_not;
    peer_ = SambaPeer::Start(content, why_not);
    if (!peer_) GTEST_SKIP() << why_not;
    // The agents reach the peer through a relay on their own loopback, so
    // that a test can act at a request of its choice.
    ASSERT_TRUE(peer_->namespaces().InClient([&] {
      const int listener = ListenOn({127, 0, 0, 1}, 445);
      if (listener >= 0) {
        relay_ = std::make_unique<TcpRelay>(listener, kPeerAddress, 445,
                                            std::chrono::microseconds(0));
      }
    }));
    ASSERT_TRUE(relay_) << "cannot listen on port 445 of the client's loopback";
  }

  test::AgentProcessResult RunAgent(const std::string& server,
                                    const std::map<std::string, std::string>& env) {
    test::TempFolder temp;
    std::map<std::string, std::string> all = env;
    all["HOSTLORE_AUTH_FILE"] = peer_->AuthFile(kAdminUser, kAdminPassword);
    all["HOSTLORE_WINRM_ENDPOINTS"] = "http:5985";
    test::AgentProcessResult run;
    EXPECT_TRUE(peer_->namespaces().InClient(
        [&] { run = test::RunAgentProcess("1,127.0.0.1," + server + ",,0", temp.path(), all); }));
    return run;
  }

  std::string Server(const std::string& name) const {
    return "sqlite:" + (temp_.path() / (name + ".db")).string();
  }

  bool NoFileLeft() const {
    return std::filesystem::is_empty(peer_->AdminFolder() / "Temp");
  }

  std::unique_ptr<SambaPeer> peer_;
  std::unique_ptr<TcpRelay> relay_;
  test::TempFolder temp_;
};

TEST_F(RegistryWalkTest, EveryRouteStoresTheSameInventory) {
  const std::map<std::string, std::map<std::string, std::string>> routes = {
      {"one-pipe", {{"HOSTLORE_REGISTRY_PIPES", "0"}}},
      {"pipes", {{"HOSTLORE_REGISTRY_PIPES", "16"}}},  // the default count
      {"snapshot", {{"HOSTLORE_REGISTRY_SNAPSHOT", "1"}}},
  };
  std::map<std::string, std::string> stored;
  for (const auto& [route, env] : routes) {
    const test::AgentProcessResult run = RunAgent(Server(route), env);
    EXPECT_EQ(run.exit_status, 0) << route << ": " << run.stderr_text << Joined(run.log);
    const bool fell_back = run.stderr_text.find("no registry snapshot") != std::string::npos;
    EXPECT_EQ(fell_back, route == "snapshot") << run.stderr_text;
    stored[route] = StoredSoftware(Server(route));
  }
  // 300 programs less the 28 without an uninstall string and the 16 names
  // that come twice with one, and 20 installer products.
  const std::string& reference = stored["one-pipe"];
  EXPECT_EQ(std::count(reference.begin(), reference.end(), '^') + 1, 300 - 28 - 16 + 20)
      << reference;
  EXPECT_NE(reference.find("Program 25\xC2\xA7" "1.25\xC2\xA7%ProgramFiles%\\P25 \xC2\xA7"),
            std::string::npos);
  EXPECT_EQ(stored["pipes"], reference);
  EXPECT_EQ(stored["snapshot"], reference);
  EXPECT_TRUE(NoFileLeft());
}

// Killed while the extra pipes read ahead (program 150 is far beyond what
// the run's own pipe opens ahead): the agent ends at once through its
// failure path and stores nothing of what it read.
TEST_F(RegistryWalkTest, APeerKilledWhileThePipesWalkStoresNothing) {
  const std::string server = Server("lost");
  const test::AgentProcessResult whole = RunAgent(server, {});
  ASSERT_EQ(whole.exit_status, 0) << whole.stderr_text;
  const std::string before = StoredSoftware(server);
  ASSERT_EQ(before.front(), 'I') << before;

  std::atomic<Clock::rep> killed_at{0};
  relay_->DropClientBytesFrom(Wide("Prog150"), [&] {
    peer_->Kill();
    killed_at = Clock::now().time_since_epoch().count();
  });
  const test::AgentProcessResult lost = RunAgent(server, {{"HOSTLORE_REGISTRY_PIPES", "8"}});
  const Clock::time_point ended_at = Clock::now();
  ASSERT_NE(killed_at.load(), 0) << "no request carried Prog150";
  const auto ending = std::chrono::duration_cast<std::chrono::milliseconds>(
      ended_at - Clock::time_point(Clock::duration(killed_at.load())));
  EXPECT_LT(ending.count(), 2000) << "ended " << ending.count() << " ms after the kill";
  EXPECT_EQ(lost.exit_status, 1) << lost.stderr_text << Joined(lost.log);
  ASSERT_FALSE(lost.log.empty());
  EXPECT_NE(lost.log.back().find("connection lost during the scan, nothing stored"),
            std::string::npos)
      << Joined(lost.log);
  EXPECT_EQ(StoredSoftware(server), before);
}

}  // namespace
}  // namespace hostlore::testing
