#include "db/sqlite_connection.h"

#include <sqlite3.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <map>

#include "platform/database/database.h"
#include "db/schema_scripts.h"

namespace hostlore {
namespace {

struct CloseDatabase {
  void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
struct FinalizeStatement {
  void operator()(sqlite3_stmt* statement) const { sqlite3_finalize(statement); }
};
using DatabaseHandle = std::unique_ptr<sqlite3, CloseDatabase>;
using StatementHandle = std::unique_ptr<sqlite3_stmt, FinalizeStatement>;

// Resets a statement when the scope ends, so that no statement keeps a read
// transaction open between calls (it would stall other agents' writers).
class StatementUse {
 public:
  explicit StatementUse(sqlite3_stmt* statement) : statement_(statement) {}
  StatementUse(const StatementUse&) = delete;
  StatementUse& operator=(const StatementUse&) = delete;
  ~StatementUse() {
    sqlite3_reset(statement_);
    sqlite3_clear_bindings(statement_);
  }

 private:
  sqlite3_stmt* statement_;
};

// "varchar(255)" -> 255; long text and undeclared types have no limit.
int64_t DefinedSizeOf(const char* declared) {
  if (declared == nullptr) return kUnlimitedLength;
  const std::string type(declared);
  const size_t open = type.find('(');
  if (open != std::string::npos) return std::atoll(type.c_str() + open + 1);
  std::string upper;
  for (const char c : type) upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  if (upper.find("INT") != std::string::npos) return 4;
  if (upper.find("FLOA") != std::string::npos || upper.find("DOUB") != std::string::npos ||
      upper.find("REAL") != std::string::npos) {
    return 8;
  }
  return kUnlimitedLength;
}

ColumnKind KindOf(const char* declared) {
  const int64_t size = DefinedSizeOf(declared);
  if (size == kUnlimitedLength) return ColumnKind::kLongText;
  std::string upper;
  for (const char c : std::string(declared)) upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  if (upper.find("CHAR") != std::string::npos || upper.find("TEXT") != std::string::npos) {
    return ColumnKind::kText;
  }
  return size == 4 ? ColumnKind::kInteger : size == 8 ? ColumnKind::kDouble : ColumnKind::kSpare;
}

FieldValue ColumnValue(sqlite3_stmt* statement, int column) {
  switch (sqlite3_column_type(statement, column)) {
    case SQLITE_INTEGER:
      return FieldValue(static_cast<int64_t>(sqlite3_column_int64(statement, column)));
    case SQLITE_FLOAT:
      return FieldValue(sqlite3_column_double(statement, column));
    case SQLITE_NULL:
      return FieldValue();
    default: {
      const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, column));
      return FieldValue(std::string(text ? text : "", static_cast<size_t>(sqlite3_column_bytes(statement, column))));
    }
  }
}

int Bind(sqlite3_stmt* statement, int index, const FieldValue& value) {
  if (value.is_text()) {
    return sqlite3_bind_text(statement, index, value.text().data(),
                             static_cast<int>(value.text().size()), SQLITE_TRANSIENT);
  }
  if (value.is_double()) return sqlite3_bind_double(statement, index, value.real());
  if (value.is_integer()) return sqlite3_bind_int64(statement, index, value.integer());
  return sqlite3_bind_null(statement, index);
}

class SqliteConnection final : public EngineConnection {
 public:
  explicit SqliteConnection(DatabaseHandle db) : db_(std::move(db)) {}

  const EngineTraits& traits() const override { return TraitsOf(Engine::kSqlite); }

  Result<FirstRow> SelectFirstRow(const std::string& sql,
                                  const std::optional<std::string>& key) override {
    Result<sqlite3_stmt*> prepared = Prepare(sql);
    if (!prepared.ok()) return prepared.status();
    sqlite3_stmt* statement = prepared.value();
    StatementUse use(statement);
    if (key && Bind(statement, 1, FieldValue(*key)) != SQLITE_OK) return Failure();

    FirstRow first;
    const int visible = sqlite3_column_count(statement) - 2;
    for (int i = 0; i < visible; ++i) {
      first.columns.push_back(
          {sqlite3_column_name(statement, i), DefinedSizeOf(sqlite3_column_decltype(statement, i))});
    }
    const int rc = sqlite3_step(statement);
    if (rc == SQLITE_DONE) return first;
    if (rc != SQLITE_ROW) return Failure();
    StoredRow row;
    for (int i = 0; i < visible; ++i) row.values.push_back(ColumnValue(statement, i));
    row.identity = std::to_string(sqlite3_column_int64(statement, visible));
    first.count = sqlite3_column_int64(statement, visible + 1);
    first.row = std::move(row);
    return first;
  }

  Result<StoredRow> InsertRow(const std::string& sql, const FieldValue& value) override {
    Result<sqlite3_stmt*> prepared = Prepare(sql);
    if (!prepared.ok()) return prepared.status();
    sqlite3_stmt* statement = prepared.value();
    StatementUse use(statement);
    if (Bind(statement, 1, value) != SQLITE_OK) return Failure();
    if (sqlite3_step(statement) != SQLITE_ROW) return Failure();
    StoredRow row;
    const int visible = sqlite3_column_count(statement) - 1;
    for (int i = 0; i < visible; ++i) row.values.push_back(ColumnValue(statement, i));
    row.identity = std::to_string(sqlite3_column_int64(statement, visible));
    // RETURNING rows are produced before the change is written: finish it.
    if (sqlite3_step(statement) != SQLITE_DONE) return Failure();
    return row;
  }

  Result<std::optional<std::string>> UpdateRow(const std::string& sql, const FieldValue& value,
                                               const std::string& identity) override {
    Result<sqlite3_stmt*> prepared = Prepare(sql);
    if (!prepared.ok()) return prepared.status();
    sqlite3_stmt* statement = prepared.value();
    StatementUse use(statement);
    int index = 1;
    if (!value.is_null() && Bind(statement, index++, value) != SQLITE_OK) return Failure();
    if (sqlite3_bind_int64(statement, index, std::atoll(identity.c_str())) != SQLITE_OK) {
      return Failure();
    }
    if (sqlite3_step(statement) != SQLITE_DONE) return Failure();
    if (sqlite3_changes(db_.get()) == 0) return std::optional<std::string>();
    return std::optional<std::string>(identity);
  }

  Status SelectRows(const std::string& sql, const std::vector<FieldValue>& parameters,
                    const std::function<bool(std::vector<FieldValue>&)>& each) override {
    Result<sqlite3_stmt*> prepared = Prepare(sql);
    if (!prepared.ok()) return prepared.status();
    sqlite3_stmt* statement = prepared.value();
    StatementUse use(statement);
    for (size_t i = 0; i < parameters.size(); ++i) {
      if (Bind(statement, static_cast<int>(i) + 1, parameters[i]) != SQLITE_OK) return Failure();
    }
    const int columns = sqlite3_column_count(statement);
    std::vector<FieldValue> row;
    for (;;) {
      const int rc = sqlite3_step(statement);
      if (rc == SQLITE_DONE) return Status::Ok();
      if (rc != SQLITE_ROW) return Failure();
      row.clear();
      for (int i = 0; i < columns; ++i) row.push_back(ColumnValue(statement, i));
      if (!each(row)) return Status::Ok();
    }
  }

  // BEGIN IMMEDIATE takes the file's write lock at once (waiting for it up
  // to the busy timeout), so every writer of the file runs after the other,
  // the serial key's included. A deferred BEGIN would let two transactions
  // read, and the second to write would then fail at once: its snapshot
  // would be stale.
  Status BeginTransaction(const std::string&) override { return Execute("BEGIN IMMEDIATE"); }

  Status CommitTransaction() override {
    Status committed = Execute("COMMIT");
    if (!committed.ok()) RollbackTransaction();
    return committed;
  }

  void RollbackTransaction() override {
    if (!sqlite3_get_autocommit(db_.get())) Execute("ROLLBACK");
  }

  // The whole script in one transaction: agents that start on a new file at
  // the same moment wait for each other and then find the tables there.
  Status RunScript(const std::string& script) override {
    std::string batch = "BEGIN IMMEDIATE;\n";
    for (const std::string& statement : SplitSchemaScript(script)) batch += statement + ";\n";
    batch += "COMMIT;";
    Status status = Execute(batch);
    if (!status.ok()) Execute("ROLLBACK");
    return status;
  }

  Result<std::vector<DescribedColumn>> DescribeTable(const std::string& table) override {
    Result<sqlite3_stmt*> prepared = Prepare("SELECT * FROM " + table);
    if (!prepared.ok()) return prepared.status();
    std::vector<DescribedColumn> columns;
    for (int i = 0; i < sqlite3_column_count(prepared.value()); ++i) {
      const char* declared = sqlite3_column_decltype(prepared.value(), i);
      columns.push_back({sqlite3_column_name(prepared.value(), i), declared ? declared : "",
                         KindOf(declared), DefinedSizeOf(declared)});
    }
    return columns;
  }

  Status Execute(const std::string& sql) {
    char* message = nullptr;
    if (sqlite3_exec(db_.get(), sql.c_str(), nullptr, nullptr, &message) == SQLITE_OK) {
      return Status::Ok();
    }
    Status failure = Failure();
    sqlite3_free(message);
    return failure;
  }

  Result<bool> HasAllTables() {
    Result<sqlite3_stmt*> prepared = Prepare(
        "SELECT COUNT(*) FROM sqlite_master WHERE type = 'table' AND name IN "
        "('Asset', 'Software', 'Services', 'LastAccess', 'DriveHistory')");
    if (!prepared.ok()) return prepared.status();
    StatementUse use(prepared.value());
    if (sqlite3_step(prepared.value()) != SQLITE_ROW) return Failure();
    return sqlite3_column_int(prepared.value(), 0) == 5;
  }

 private:
  Status Failure() const {
    return Status::Failure(sqlite3_extended_errcode(db_.get()), sqlite3_errmsg(db_.get()));
  }

  // Statements are prepared once per connection and kept.
  Result<sqlite3_stmt*> Prepare(const std::string& sql) {
    auto found = statements_.find(sql);
    if (found != statements_.end()) return found->second.get();
    sqlite3_stmt* raw = nullptr;
    if (sqlite3_prepare_v3(db_.get(), sql.c_str(), static_cast<int>(sql.size()),
                           SQLITE_PREPARE_PERSISTENT, &raw, nullptr) != SQLITE_OK) {
      return Failure();
    }
    StatementHandle statement(raw);
    sqlite3_stmt* kept = statement.get();
    statements_.emplace(sql, std::move(statement));
    return kept;
  }

  DatabaseHandle db_;  // declared first: outlives the statements
  std::map<std::string, StatementHandle> statements_;
};

// WAL journal, per-connection settings, and the five tables when missing.
Status PrepareFile(SqliteConnection& connection) {
  // journal_mode=WAL persists in the file; synchronous is per connection.
  for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=NORMAL"}) {
    if (Status s = connection.Execute(pragma); !s.ok()) return s;
  }
  Result<bool> complete = connection.HasAllTables();
  if (!complete.ok()) return complete.status();
  if (complete.value()) return Status::Ok();
  return connection.RunScript(std::string(SchemaScript(Engine::kSqlite)));
}

// SQLite's own words ("unable to open database file") name neither the file
// nor the cause: both are added, the cause as the system gives it.
std::string FileFailureText(sqlite3* db, int code, const std::string& path) {
  std::string text = path + ": " + sqlite3_errmsg(db);
  const int primary = code & 0xFF;
  const int system_error = sqlite3_system_errno(db);
  if ((primary == SQLITE_CANTOPEN || primary == SQLITE_IOERR) && system_error != 0) {
    text += std::string(" (") + std::strerror(system_error) + ")";
  }
  return text;
}

}  // namespace

Result<std::shared_ptr<EngineConnection>> OpenSqliteConnection(const std::string& path,
                                                               SqliteAccess access) {
  sqlite3* raw = nullptr;
  const bool read_only = access == SqliteAccess::kReadOnly;
  const int rc = sqlite3_open_v2(
      path.c_str(), &raw,
      (read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE) | SQLITE_OPEN_NOMUTEX,
      nullptr);
  DatabaseHandle db(raw);
  if (rc != SQLITE_OK) {
    return Status::Failure(rc, raw ? FileFailureText(raw, rc, path) : sqlite3_errstr(rc));
  }
  sqlite3_busy_timeout(db.get(), kSqliteBusyTimeoutMs);
  sqlite3* const handle = db.get();
  auto connection = std::make_shared<SqliteConnection>(std::move(db));
  if (read_only) {
    Result<bool> complete = connection->HasAllTables();
    if (!complete.ok()) {
      const int64_t number = complete.status().number();
      return Status::Failure(number, FileFailureText(handle, static_cast<int>(number), path));
    }
    if (!complete.value()) return Status::Failure(-1, path + " holds no Hostlore tables");
    return std::shared_ptr<EngineConnection>(std::move(connection));
  }
  // Agents that open a new file at the same moment can meet a lock that
  // SQLite reports at once instead of waiting for it (the switch to WAL, the
  // first reader of a fresh WAL index): such a busy answer is waited out like
  // any other lock, up to the busy timeout.
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kSqliteBusyTimeoutMs);
  for (;;) {
    const Status prepared = PrepareFile(*connection);
    if (prepared.ok()) break;
    const int primary = static_cast<int>(prepared.number() & 0xFF);
    const bool busy = primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
    if (!busy || std::chrono::steady_clock::now() >= deadline) {
      return Status::Failure(prepared.number(),
                             FileFailureText(handle, static_cast<int>(prepared.number()), path));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return std::shared_ptr<EngineConnection>(std::move(connection));
}

}  // namespace hostlore
