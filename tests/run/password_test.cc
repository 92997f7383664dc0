// A password in the server field never reaches a log, a progress line,
// standard error or a report; a URL's password logs in; the fleet runner
// refuses to put one on its agents' command lines.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include "db/db_fixture.h"
#include "db/postgres_server.h"
#include "fleet/fleet_process.h"
#include "support/agent_fixture.h"
#include "support/test_support.h"

namespace hostlore::test {
namespace {

constexpr char kPassword[] = "S3cretPw";

class PasswordTest : public ::testing::Test {
 protected:
  void SetUp() override { lab_.Write("pc042.json", Pc042Json()); }

  AgentProcessResult Agent(const std::string& command_line) {
    AgentProcessResult run =
        RunAgentProcess(command_line, temp_.path(), {{"HOSTLORE_LAB", lab_.path().string()}});
    Expect(run);
    return run;
  }

  // Nothing the agent wrote holds the password.
  static void Expect(const AgentProcessResult& run) {
    for (const std::string& line : run.progress) EXPECT_EQ(line.find(kPassword), std::string::npos) << line;
    for (const std::string& line : run.log) EXPECT_EQ(line.find(kPassword), std::string::npos) << line;
    EXPECT_EQ(run.stderr_text.find(kPassword), std::string::npos) << run.stderr_text;
  }

  TempFolder lab_;
  TempFolder temp_;
};

TEST_F(PasswordTest, NoFormReachesTheLogAndTheLogIsNotWorldReadable) {
  const std::string pw = kPassword;
  for (const std::string& server :
       {"odbc:Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=1;UID=postgres;PWD=" + pw,
        "odbc:Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=1;Password={" + pw + "}",
        "postgresql://alice:" + pw + "@127.0.0.1:1/inventory"}) {
    // The unreadable command line is logged whole; the refused connection
    // with its reason and the connection string.
    const AgentProcessResult unreadable = Agent("1,PC042," + server + ",,x");
    EXPECT_EQ(unreadable.exit_status, 2);
    EXPECT_NE(unreadable.log.back().find("***"), std::string::npos) << unreadable.log.back();
    const AgentProcessResult refused = Agent("1,PC042," + server + ",,3");
    EXPECT_EQ(refused.exit_status, 1);
  }
  struct stat info {};
  ASSERT_EQ(::stat((temp_.path() / "Kelvarn.log").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640);
}

TEST_F(PasswordTest, AUrlPasswordLogsInAndAWrongOneIsLoggedWithoutIt) {
  PostgresServer* server = PostgresServer::Shared();
  if (server == nullptr) GTEST_SKIP() << PostgresServer::SkipReason();
  const std::string field = NewDatabase(DbEngine::kPostgreSql, temp_);
  const std::string database = field.substr(field.rfind('/') + 1);
  // "@" and ":" in a password are written escaped, as PostgreSQL's own
  // URLs write them.
  ASSERT_TRUE(server->AddPasswordUser("alice", std::string(kPassword) + "@:x", database));
  const std::string url = "postgresql://alice:" + std::string(kPassword) + "%40%3Ax@127.0.0.1:" +
                          std::to_string(server->port()) + "/" + database;
  EXPECT_EQ(Agent("1,PC042," + url + ",,3").exit_status, 0);
  EXPECT_EQ(server->Query(database, "SELECT LoggedOnUser FROM Asset"), "OFFICE\\jsmith");

  const AgentProcessResult wrong = Agent("1,PC042,postgresql://alice:" + std::string(kPassword) +
                                         "@127.0.0.1:" + std::to_string(server->port()) + "/" + database + ",,3");
  EXPECT_EQ(wrong.exit_status, 1);
  EXPECT_NE(wrong.log.back().find("password authentication failed for user \"alice\""), std::string::npos)
      << wrong.log.back();
}

TEST_F(PasswordTest, TheFleetRefusesAServerFieldWithAPassword) {
  const FleetResult refused = RunFleet(
      {"--plain", "odbc:DSN=Inventory;UID=scan;PWD=" + std::string(kPassword), "PC042"}, temp_.path(),
      {{"HOSTLORE_LAB", lab_.path().string()}});
  EXPECT_EQ(refused.exit_status, 2);
  for (const char* place : {"PWD=***", "password file", "ODBC data source", "Kerberos"}) {
    EXPECT_NE(refused.err.find(place), std::string::npos) << refused.err;
  }
  EXPECT_EQ(refused.err.find(kPassword), std::string::npos) << refused.err;
  EXPECT_EQ(refused.out.find(kPassword), std::string::npos) << refused.out;
}

}  // namespace
}  // namespace hostlore::test
