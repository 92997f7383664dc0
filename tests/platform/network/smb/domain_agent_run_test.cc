// Whole agent runs against a Samba Active Directory domain controller, as an
// administrator who holds only a Kerberos ticket: by the controller's name,
// by its address with and without a reverse-lookup name, and with NTLM.
// The controller's registry has no computer name, so the inventory is kept
// under the name the target was reached by. Every test here shares one
// domain (provisioning costs seconds); CTest runs them as one test.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <sstream>

#include "db/table_queries.h"
#include "platform/network/samba_domain.h"
#include "support/stored_rows.h"
#include "support/test_support.h"

namespace hostlore::testing {
namespace {

const char kRegistry[] =
    "Windows Registry Editor Version 5.00\n\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Gpmc]\n"
    "\"DisplayName\"=\"Group Policy Console\"\n"
    "\"DisplayVersion\"=\"6.1\"\n"
    "\"UninstallString\"=\"C:\\\\gpmc\\\\un.exe\"\n";

std::string Joined(const std::vector<std::string>& lines) {
  std::ostringstream text;
  for (const std::string& line : lines) text << line << "\n";
  return text.str();
}

class SambaDomainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    domain_ = SambaDomain::Shared(kRegistry);
    if (domain_ == nullptr) GTEST_SKIP() << "domain tests skipped: " << SambaDomain::SkipReason();
    static bool told = false;
    if (!told) {
      told = true;
      std::printf("domain controller answering %.1f s after provisioning began\n",
                  domain_->start_seconds());
    }
    ASSERT_TRUE(domain_->namespaces().LeavesThroughOwnVeth(kPeerAddress));
    ccache_ = (temp_.path() / "ccache").string();
    db_ = (temp_.path() / "hostlore.db").string();
  }

  // Runs the agent on `target` from the client namespace, names resolving
  // through `hosts_file`, with the ticket cache and no authentication file
  // unless `auth_file` names one. WinRM is refused (no WS-Management there),
  // so the registry and shares method runs.
  test::AgentProcessResult RunAgent(const std::string& target, const std::string& hosts_file,
                                    const std::string& auth_file = "") {
    std::map<std::string, std::string> env = {{"KRB5_CONFIG", domain_->krb5_config()},
                                              {"KRB5CCNAME", "FILE:" + ccache_},
                                              {"HOSTLORE_WINRM_ENDPOINTS", "http:5985"}};
    if (!auth_file.empty()) env["HOSTLORE_AUTH_FILE"] = auth_file;
    test::AgentProcessResult run;
    test::TempFolder agent_temp;
    EXPECT_TRUE(domain_->InClient(hosts_file, [&] {
      run = test::RunAgentProcess("1," + target + ",sqlite:" + db_ + ",,0", agent_temp.path(), env);
    }));
    // Standard output is the progress channel here: nothing else may arrive
    // there, whatever Samba's library has to say.
    const std::regex progress_line(R"([^,]*,([0-9]+|Complete),[0-9.]*,0)");
    for (const std::string& line : run.progress) {
      EXPECT_TRUE(std::regex_match(line, progress_line)) << "not a progress line: " << line;
    }
    return run;
  }

  std::string NamedHosts() const {
    return domain_->HostsFile("hosts-named", domain_->address() + " dc1.lab.test dc1\n");
  }

  std::string Tickets() const {
    std::string text;
    FILE* klist = ::popen(("KRB5_CONFIG='" + domain_->krb5_config() + "' klist -c '" + ccache_ +
                           "' 2>&1")
                              .c_str(),
                          "r");
    if (klist == nullptr) return text;
    char chunk[256];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, klist)) > 0;) text.append(chunk, n);
    ::pclose(klist);
    return text;
  }

  // The computer's Asset row is the only one, keyed by `name`.
  void ExpectOnlyRowFor(const std::string& name) const {
    EXPECT_EQ(test::CountRows("sqlite:" + db_, AllAssetRows()), 1);
    EXPECT_FALSE(test::ReadRow("sqlite:" + db_, AssetRowQuery(name)).empty()) << name;
  }

  SambaDomain* domain_ = nullptr;
  test::TempFolder temp_;
  std::string ccache_;
  std::string db_;  // the SQLite file
};

TEST_F(SambaDomainTest, ByNameATicketIsAllItTakes) {
  ASSERT_TRUE(domain_->Kinit(ccache_));
  const test::AgentProcessResult run = RunAgent(SambaDomain::kControllerName, NamedHosts());
  const std::string log = Joined(run.log);
  EXPECT_EQ(run.exit_status, 0) << run.stderr_text << log;
  EXPECT_NE(Tickets().find("cifs/dc1.lab.test@LAB.TEST"), std::string::npos) << Tickets();
  // The controller's registry names no computer: the row keeps the name
  // the target was reached by, and the log says so.
  ExpectOnlyRowFor("dc1.lab.test");
  EXPECT_NE(log.find("Unable to read the computer name,dc1.lab.test:"), std::string::npos) << log;
  ASSERT_FALSE(run.progress.empty());
  EXPECT_EQ(run.progress.back(), "dc1.lab.test,Complete," + domain_->address() + ",0");
  // What the controller holds was read and stored.
  const std::vector<FieldValue> software =
      test::ReadRow("sqlite:" + db_, SoftwareRowQuery("dc1.lab.test"));
  ASSERT_GE(software.size(), 2u);
  EXPECT_EQ(ValueAsText(software[1]).value().rfind("Group Policy Console\xC2\xA7" "6.1", 0), 0u);
}

TEST_F(SambaDomainTest, ByAddressTheReverseLookupNameServesKerberos) {
  ASSERT_TRUE(domain_->Kinit(ccache_));
  const test::AgentProcessResult run = RunAgent(domain_->address(), NamedHosts());
  EXPECT_EQ(run.exit_status, 0) << run.stderr_text << Joined(run.log);
  ExpectOnlyRowFor(domain_->address());
  // What is stored is the address; the name only served the logon.
  EXPECT_NE(Tickets().find("cifs/dc1.lab.test@LAB.TEST"), std::string::npos);
}

TEST_F(SambaDomainTest, ByAddressWithoutANameKerberosFailsAndSaysWhy) {
  ASSERT_TRUE(domain_->Kinit(ccache_));
  const test::AgentProcessResult run =
      RunAgent(domain_->address(), domain_->HostsFile("hosts-nameless", ""));
  EXPECT_EQ(run.exit_status, 1);
  ASSERT_EQ(run.log.size(), 1u) << Joined(run.log);
  EXPECT_EQ(run.log[0].substr(20),
            "Insufficient access or error accessing PC ," + domain_->address() + ":" +
                domain_->address() +
                ": Kerberos needs a host name (service principal cifs/NAME), and no name leads "
                "to this address: give the target by a name that resolves to it, add a reverse "
                "lookup for it, or use NTLM (HOSTLORE_AUTH_FILE)");
  EXPECT_EQ(test::CountRows("sqlite:" + db_, AllAssetRows()), 0);
  // Samba's library had its say about Kerberos to an address: on standard
  // error, not among the progress lines (RunAgent checks those).
  EXPECT_NE(run.stderr_text.find("libsmbclient: "), std::string::npos) << run.stderr_text;
}

TEST_F(SambaDomainTest, NtlmReachesTheAddressAsBefore) {
  // No ticket at all: the authentication file alone.
  const test::AgentProcessResult run =
      RunAgent(domain_->address(), domain_->HostsFile("hosts-nameless", ""), domain_->AuthFile());
  EXPECT_EQ(run.exit_status, 0) << run.stderr_text << Joined(run.log);
  ExpectOnlyRowFor(domain_->address());
}

}  // namespace
}  // namespace hostlore::testing
