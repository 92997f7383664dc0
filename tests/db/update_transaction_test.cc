// The update run as one transaction: whatever stops it (a writer that dies,
// a server stopped as by a crash) leaves every row as it was before, and
// agents that store one computer at the same moment leave it stored whole,
// once.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "db/connect.h"
#include "db/db_fixture.h"
#include "db/forwarding_database.h"
#include "db/postgres_server.h"
#include "db/table_queries.h"
#include "db/update_db.h"

namespace hostlore::test {
namespace {

// Calls `hook` before every row addition and column write (with its number,
// from 0) and before the commit (with -1).
using WriteHook = std::function<void(int write)>;

class HookedDatabase final : public ForwardingDatabase {
 public:
  HookedDatabase(std::unique_ptr<Database> target, WriteHook hook)
      : ForwardingDatabase(std::move(target)), hook_(std::move(hook)) {}

  Result<std::unique_ptr<RecordSet>> Open(const TableQuery& query) override {
    Result<std::unique_ptr<RecordSet>> opened = target().Open(query);
    if (!opened.ok()) return opened;
    return std::unique_ptr<RecordSet>(std::make_unique<HookedRecordSet>(std::move(opened).value(), this));
  }
  Status CommitTransaction() override {
    hook_(-1);
    return target().CommitTransaction();
  }

 private:
  class HookedRecordSet final : public ForwardingRecordSet {
   public:
    HookedRecordSet(std::unique_ptr<RecordSet> target, HookedDatabase* db)
        : ForwardingRecordSet(std::move(target)), db_(db) {}
    Status AddNew(int ordinal, const FieldValue& value) override {
      db_->hook_(db_->writes_++);
      return ForwardingRecordSet::AddNew(ordinal, value);
    }
    Status Update(int ordinal, const FieldValue& value) override {
      db_->hook_(db_->writes_++);
      return ForwardingRecordSet::Update(ordinal, value);
    }

   private:
    HookedDatabase* db_;
  };

  WriteHook hook_;
  int writes_ = 0;
};

// Everything stored for PC042, and how many rows each table holds.
struct Stored {
  std::vector<std::vector<FieldValue>> rows;
  std::vector<int64_t> counts;
  bool operator==(const Stored&) const = default;
};

class UpdateTransactionTest : public DbFixture {
 protected:
  Stored Snapshot() {
    Stored stored;
    for (const TableQuery& query : {AssetRowQuery("PC042"), SoftwareRowQuery("PC042"),
                                    ServicesRowQuery("PC042"), DriveHistoryRowQuery("PC042~C")}) {
      stored.rows.push_back(Row(query));
      stored.counts.push_back(Count(TableQuery::AllRows(query.table, query.key_column)));
    }
    return stored;
  }

  void Hook(WriteHook hook) {
    state_->Db.Connector = [hook](std::string_view server) -> Result<std::unique_ptr<Database>> {
      Result<std::unique_ptr<Database>> real = ConnectDatabase(server);
      if (!real.ok()) return real.status();
      return std::unique_ptr<Database>(std::make_unique<HookedDatabase>(std::move(real).value(), hook));
    };
  }

  // A run a day after the first that changes the manufacturer, the
  // software, and the free space of C:.
  void ChangedRun() {
    NewRun();
    clock_->Set(clock_->Now() + 86400);
    FillInventory(*state_);
    state_->Manufacturer = "Other";
    state_->Drive('C').FreeSpace = 1100;
    state_->SoftwareList += "^Viewer\xC2\xA7" "2\xC2\xA7" "C:\\V\xC2\xA7{2}\xC2\xA7\xC2\xA7";
  }

  // The wait status of a child process that runs UpdateDB with `hook`.
  int InChild(WriteHook hook) {
    const pid_t pid = ::fork();
    if (pid == 0) {
      Hook(std::move(hook));
      Ends(UpdateDB);
      ::_exit(0);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return status;
  }
};

WriteHook DieAt(int point) {
  return [point](int write) {
    if (write == point) ::raise(SIGKILL);
  };
}

TEST_P(UpdateTransactionTest, AWriterThatDiesLeavesEveryRowAsBefore) {
  FillInventory(*state_);
  const Stored nothing = Snapshot();
  EXPECT_TRUE(WIFSIGNALED(InChild(DieAt(5))));  // a new computer
  EXPECT_EQ(Snapshot(), nothing);

  ASSERT_FALSE(Ends(UpdateDB));
  ChangedRun();
  const Stored before = Snapshot();
  // At the first write, in the drive slots, and just before the commit.
  for (const int point : {0, 40, -1}) {
    EXPECT_TRUE(WIFSIGNALED(InChild(DieAt(point)))) << point;
    EXPECT_EQ(Snapshot(), before) << point;
  }
  // The same run unhindered stores all of it.
  ASSERT_FALSE(Ends(UpdateDB));
  EXPECT_EQ(Row(AssetRowQuery("PC042"))[1], FieldValue("Other"));
  EXPECT_EQ(Row(DriveHistoryRowQuery("PC042~C"))[1], FieldValue("^2003/05/29,1250.5^2003/05/30,1100"));
}

// Agents that store one computer at the same moment, each holding the
// window between reading and writing open for a while: they take turns, so
// the computer has one row per table, and one record per change.
TEST_P(UpdateTransactionTest, AgentsStoringOneComputerAtOnceTakeTurns) {
  constexpr int kAgents = 3;
  const auto agents_at_once = [&] {
    std::vector<pid_t> children;
    for (int agent = 0; agent < kAgents; ++agent) {
      const pid_t pid = ::fork();
      if (pid == 0) {
        Hook([](int write) {
          if (write == 0) std::this_thread::sleep_for(std::chrono::milliseconds(300));
        });
        const bool ended = Ends(UpdateDB);
        ::_exit(ended ? 3 : state_->FailureReported ? 4 : 0);
      }
      children.push_back(pid);
    }
    int stored = 0;
    for (const pid_t pid : children) {
      int status = 0;
      ::waitpid(pid, &status, 0);
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
      stored += WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    return stored;
  };

  FillInventory(*state_);
  EXPECT_EQ(agents_at_once(), kAgents);
  EXPECT_EQ(Snapshot().counts, (std::vector<int64_t>{1, 1, 1, 1}));
  EXPECT_EQ(History(), "2003/05/29 14:07:09~New Record Created^");

  ChangedRun();
  EXPECT_EQ(agents_at_once(), kAgents);
  EXPECT_EQ(Snapshot().counts, (std::vector<int64_t>{1, 1, 1, 1}));
  EXPECT_EQ(History(), "2003/05/29 14:07:09~New Record Created^"
                       "2003/05/30 14:07:09~Manufacturer changed from Acme To Other^"
                       "2003/05/30 14:07:09~New Software installed : Viewer^");
  EXPECT_TRUE(LogWithoutTime().empty());
}

INSTANTIATE_TEST_SUITE_P(Engines, UpdateTransactionTest,
                         ::testing::Values(DbEngine::kSqlite, DbEngine::kPostgreSql), EngineName);

// The server stopped as by a crash (pg_ctl stop -m immediate) at several
// points of the update run: the run fails with its log line, and after the
// restart every row is as before.
class PostgresCrashTest : public UpdateTransactionTest {};

TEST_P(PostgresCrashTest, AServerStoppedMidRunLeavesEveryRowAsBefore) {
  PostgresServer& server = *PostgresServer::Shared();
  FillInventory(*state_);
  ASSERT_FALSE(Ends(UpdateDB));
  for (const int point : {0, 40, -1}) {
    ChangedRun();
    const Stored before = Snapshot();
    Hook([&server, point](int write) {
      if (write == point) server.StopImmediately();
    });
    EXPECT_FALSE(Ends(UpdateDB)) << point;
    ASSERT_TRUE(server.Restart());
    const std::vector<std::string> log = LogWithoutTime();
    ASSERT_FALSE(log.empty());
    EXPECT_TRUE(log.back().starts_with("Error updating database,PC042:")) << log.back();
    EXPECT_EQ(Progress().back(), "PC042,Complete,192.0.2.42,0");
    EXPECT_EQ(Snapshot(), before) << point;
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, PostgresCrashTest, ::testing::Values(DbEngine::kPostgreSql), EngineName);

}  // namespace
}  // namespace hostlore::test
