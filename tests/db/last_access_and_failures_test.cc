// The last-access record in its four states, the logged failure paths of the
// database stages, and many agents writing one SQLite file at once.
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "db/db_fixture.h"
#include "db/forwarding_database.h"
#include "db/table_queries.h"
#include "db/update_db.h"
#include "db/update_last_access.h"
#include "db/connect.h"

namespace hostlore::test {
namespace {

constexpr char kStamp[] = "2003/05/29 14:07:09";

class LastAccessTest : public DbFixture {};

TEST_P(LastAccessTest, FourStates) {
  // Missing, no answer: created, time left empty.
  ASSERT_FALSE(Ends(UpdateLastAccess));
  std::vector<FieldValue> row = Row(LastAccessRowQuery("PC042"));
  EXPECT_TRUE(row.at(1).is_null());
  // Present, no answer: unchanged.
  ASSERT_FALSE(Ends(UpdateLastAccess));
  EXPECT_EQ(Count(LastAccessRowQuery("PC042")), 1);
  EXPECT_TRUE(Row(LastAccessRowQuery("PC042")).at(1).is_null());
  // Present, answered: stamped.
  state_->PingOk = true;
  ASSERT_FALSE(Ends(UpdateLastAccess));
  EXPECT_EQ(Row(LastAccessRowQuery("PC042")).at(1), FieldValue(kStamp));
  // Missing, answered: created and stamped.
  state_->TargetName = "192.0.2.7";
  ASSERT_FALSE(Ends(UpdateLastAccess));
  EXPECT_EQ(Row(LastAccessRowQuery("192.0.2.7")).at(1), FieldValue(kStamp));
  EXPECT_EQ(Count(AllLastAccessRows()), 2);
  EXPECT_TRUE(LogWithoutTime().empty());
}

TEST_P(LastAccessTest, DuplicateRowsStampOnlyTheFirst) {
  Exec("INSERT INTO LastAccess (Computer, AccessTime) VALUES ('PC042', 'one');\n"
       "INSERT INTO LastAccess (Computer, AccessTime) VALUES ('PC042', 'two');");
  state_->PingOk = true;
  ASSERT_FALSE(Ends(UpdateLastAccess));
  EXPECT_EQ(Row(LastAccessRowQuery("PC042")).at(1), FieldValue(kStamp));
  Exec("DELETE FROM LastAccess WHERE AccessTime = '" + std::string(kStamp) + "'");
  EXPECT_EQ(Row(LastAccessRowQuery("PC042")).at(1), FieldValue("two"));
}

INSTANTIATE_TEST_SUITE_P(Engines, LastAccessTest,
                         ::testing::Values(DbEngine::kSqlite, DbEngine::kPostgreSql), EngineName);

// Fails the Nth write, or reports an unknown count for one table.
class FaultyDatabase final : public ForwardingDatabase {
 public:
  FaultyDatabase(std::unique_ptr<Database> target, int* writes_left, std::string unknown_count_table)
      : ForwardingDatabase(std::move(target)),
        writes_left_(writes_left),
        unknown_count_table_(std::move(unknown_count_table)) {}

  Result<std::unique_ptr<RecordSet>> Open(const TableQuery& query) override {
    Result<std::unique_ptr<RecordSet>> opened = target().Open(query);
    if (!opened.ok()) return opened;
    return std::unique_ptr<RecordSet>(std::make_unique<FaultyRecordSet>(
        std::move(opened).value(), writes_left_, query.table == unknown_count_table_));
  }

 private:
  class FaultyRecordSet final : public ForwardingRecordSet {
   public:
    FaultyRecordSet(std::unique_ptr<RecordSet> target, int* writes_left, bool unknown_count)
        : ForwardingRecordSet(std::move(target)), writes_left_(writes_left), unknown_count_(unknown_count) {}
    int64_t RecordCount() const override { return unknown_count_ ? -1 : ForwardingRecordSet::RecordCount(); }
    Status Update(int ordinal, const FieldValue& value) override {
      if (*writes_left_ >= 0 && (*writes_left_)-- == 0) return Status::Failure(-1, "disk full");
      return ForwardingRecordSet::Update(ordinal, value);
    }

   private:
    int* writes_left_;
    bool unknown_count_;
  };

  int* writes_left_;
  std::string unknown_count_table_;
};

class FailureTest : public DbFixture {
 protected:
  void Inject(int fail_after_writes, std::string unknown_count_table = "") {
    writes_left_ = fail_after_writes;
    state_->Db.Connector = [this, unknown_count_table](std::string_view server)
        -> Result<std::unique_ptr<Database>> {
      Result<std::unique_ptr<Database>> real = ConnectDatabase(server);
      if (!real.ok()) return real.status();
      return std::unique_ptr<Database>(
          std::make_unique<FaultyDatabase>(std::move(real).value(), &writes_left_, unknown_count_table));
    };
  }
  int writes_left_ = -1;
};

TEST_P(FailureTest, UnreachableDatabaseEndsTheRunAtTheAssetOpen) {
  state_->SqlServer = GetParam() == DbEngine::kSqlite ? "sqlite:/nonexistent/folder/x.db"
                                                      : "postgresql://postgres@127.0.0.1:1/none";
  FillInventory(*state_);
  EXPECT_TRUE(Ends(UpdateDB));
  const std::vector<std::string> log = LogWithoutTime();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_TRUE(log[0].starts_with("Error updating database (Asset),PC042:")) << log[0];
  EXPECT_EQ(Progress(), std::vector<std::string>{"PC042,Complete,192.0.2.42,0"});

  NewRun();
  state_->SqlServer = "sqlite:/nonexistent/folder/x.db";
  EXPECT_TRUE(Ends(UpdateLastAccess));
  EXPECT_TRUE(LogWithoutTime().at(1).starts_with("Error updating last access database,PC042:"));
}

TEST_P(FailureTest, UnknownCountsAreLoggedWithTheConnectionString) {
  Inject(-1, "Software");
  FillInventory(*state_);
  EXPECT_TRUE(Ends(UpdateDB));
  EXPECT_EQ(LogWithoutTime(), std::vector<std::string>{"Error connecting to SQL database (Software)," +
                                                       state_->ConnectionString + " "});
  NewRun();
  Inject(-1, "DriveHistory");
  FillInventory(*state_);
  EXPECT_TRUE(Ends(UpdateDB));
  EXPECT_EQ(LogWithoutTime().at(1), "Error connection to SQL database," + state_->ConnectionString + " ");
  NewRun();
  Inject(-1, "LastAccess");
  EXPECT_TRUE(Ends(UpdateLastAccess));
  EXPECT_EQ(LogWithoutTime().at(2), "Error updating last access database,PC042:");
}

TEST_P(FailureTest, AFailedWriteInTheDriveSlotsUndoesTheRunAndIsLogged) {
  FillInventory(*state_);
  ASSERT_FALSE(Ends(UpdateDB));
  NewRun();
  FillInventory(*state_);
  state_->Manufacturer = "Other";
  // One history record and 27 inventory writes pass, then six of slot A,
  // six of slot B; the first write of slot C's history fails.
  Inject(1 + 27 + 12);
  EXPECT_FALSE(Ends(UpdateDB));
  EXPECT_EQ(LogWithoutTime(), std::vector<std::string>{"Error updating database,PC042:disk full"});
  EXPECT_EQ(Progress(), std::vector<std::string>{"PC042,Complete,192.0.2.42,0"});
  const std::vector<FieldValue> row = Row(AssetRowQuery("PC042"));
  EXPECT_EQ(row[1], FieldValue("Acme"));  // written before the failure, and undone
  EXPECT_EQ(History(), std::string(kStamp) + "~New Record Created^");
  EXPECT_TRUE(state_->FailureReported);
  EXPECT_FALSE(state_->Db.AssetRecordset);
}

INSTANTIATE_TEST_SUITE_P(Engines, FailureTest,
                         ::testing::Values(DbEngine::kSqlite, DbEngine::kPostgreSql), EngineName);

// Sixteen agent processes store sixteen computers into one new SQLite file
// at the same moment, twice each; nothing is lost and nothing is logged.
TEST(ConcurrentAgentsTest, SixteenAgentsWriteOneSqliteFile) {
  TempFolder folder;
  const std::string server = "sqlite:" + (folder.path() / "shared.db").string();
  constexpr int kAgents = 16;
  std::vector<pid_t> children;
  for (int agent = 0; agent < kAgents; ++agent) {
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      int status = 0;
      for (int run = 0; run < 2 && status == 0; ++run) {
        ScanState state;
        state.platform.clock = std::make_unique<FixedClock>(LocalTime(2003, 5, 29 + run, 14, 7, 9));
        state.TempDir = folder.path().string();
        state.SqlServer = server;
        FillInventory(state);
        state.TargetName = "PC" + std::to_string(agent);
        state.PingOk = true;
        state.TotalPhysicalMemory = 512 + run;
        try {
          UpdateLastAccess(state);
          UpdateDB(state);
        } catch (...) {
          status = 3;
        }
        if (state.FailureReported) status = 4;
      }
      ::_exit(status);  // no static destructors in the child
    }
    children.push_back(pid);
  }
  for (const pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  EXPECT_EQ(ReadCrLfLines(folder.path() / "Kelvarn.log"), std::vector<std::string>{});
  Result<std::unique_ptr<Database>> db = ConnectDatabase(server);
  ASSERT_TRUE(db.ok());
  EXPECT_EQ(db.value()->Open(AllAssetRows()).value()->RecordCount(), kAgents);
  EXPECT_EQ(db.value()->Open(AllLastAccessRows()).value()->RecordCount(), kAgents);
  EXPECT_EQ(db.value()->Open(TableQuery::AllRows("DriveHistory", "DiskComputer")).value()->RecordCount(),
            kAgents);
  for (int agent = 0; agent < kAgents; ++agent) {
    const std::string name = "PC" + std::to_string(agent);
    std::unique_ptr<RecordSet> row = db.value()->Open(AssetRowQuery(name)).value();
    EXPECT_EQ(row->RecordCount(), 1);
    EXPECT_EQ(row->Field(17).value(), FieldValue(int64_t{513}));
    EXPECT_EQ(row->Field(92).value(),
              FieldValue("2003/05/29 14:07:09~New Record Created^"
                         "2003/05/30 14:07:09~Physical Memory changed from 512 To 513^"));
    std::unique_ptr<RecordSet> drive = db.value()->Open(DriveHistoryRowQuery(name + "~C")).value();
    EXPECT_EQ(drive->Field(1).value(), FieldValue("^2003/05/29,1250.5^2003/05/30,1250.5"));
  }
}

}  // namespace
}  // namespace hostlore::test
