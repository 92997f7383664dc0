#include "db/odbc_connection.h"

#include <bit>
#include <map>
#include <vector>

#include "platform/database/database.h"
#include "db/odbc_handle.h"
#include "db/odbc_parameters.h"
#include "db/schema_scripts.h"
#include "util/utf16.h"

namespace hostlore {
namespace {

static_assert(sizeof(SQLWCHAR) == 2, "unixODBC with 2-byte SQLWCHAR is assumed");
static_assert(std::endian::native == std::endian::little, "UTF-16LE buffers are host order");

std::string WideToUtf8(const std::string& bytes) {
  return Utf16ToUtf8(Utf16LeBytesToUnits(bytes));
}

enum class ValueClass { kText, kDouble, kInteger };

ValueClass ClassOf(SQLSMALLINT sql_type) {
  switch (sql_type) {
    case SQL_DOUBLE: case SQL_FLOAT: case SQL_REAL: case SQL_NUMERIC: case SQL_DECIMAL:
      return ValueClass::kDouble;
    case SQL_INTEGER: case SQL_SMALLINT: case SQL_TINYINT: case SQL_BIGINT: case SQL_BIT:
      return ValueClass::kInteger;
    default:
      return ValueClass::kText;
  }
}

struct ResultColumn {
  std::string name;
  SQLSMALLINT sql_type = 0;
  SQLULEN size = 0;
  std::string type_name;
};

class OdbcConnection final : public EngineConnection {
 public:
  OdbcConnection(OdbcHandle environment, OdbcHandle connection, const EngineTraits& traits)
      : environment_(std::move(environment)), connection_(std::move(connection)), traits_(traits) {}
  // A driver refuses to disconnect in the middle of a transaction.
  ~OdbcConnection() override { RollbackTransaction(); }

  const EngineTraits& traits() const override { return traits_; }

  Result<FirstRow> SelectFirstRow(const std::string& sql,
                                  const std::optional<std::string>& key) override {
    Result<SQLHSTMT> statement = Prepared(sql);
    if (!statement.ok()) return statement.status();
    OdbcParameters parameters(traits_);
    if (key && !Succeeded(parameters.Bind(statement.value(), FieldValue(*key)))) {
      return Failure(statement.value());
    }
    if (Status s = Execute(statement.value()); !s.ok()) return s;
    CursorGuard guard(statement.value());
    Result<std::vector<ResultColumn>> described = Describe(statement.value());
    if (!described.ok()) return described.status();
    const std::vector<ResultColumn>& columns = described.value();
    if (columns.size() < 2) return Status::Failure(-1, "query returned too few columns");
    const size_t visible = columns.size() - 2;

    FirstRow first;
    for (size_t i = 0; i < visible; ++i) first.columns.push_back({columns[i].name, SizeOf(columns[i])});
    const SQLRETURN rc = SQLFetch(statement.value());
    if (rc == SQL_NO_DATA) return first;
    if (!Succeeded(rc)) return Failure(statement.value());
    StoredRow row;
    for (size_t i = 0; i < visible; ++i) {
      Result<FieldValue> value = ReadValue(statement.value(), i, ClassOf(columns[i].sql_type));
      if (!value.ok()) return value.status();
      row.values.push_back(std::move(value).value());
    }
    Result<FieldValue> identity = ReadValue(statement.value(), visible, ValueClass::kText);
    Result<FieldValue> count = ReadValue(statement.value(), visible + 1, ValueClass::kInteger);
    if (!identity.ok()) return identity.status();
    if (!count.ok()) return count.status();
    row.identity = identity->is_text() ? identity->text() : std::string();
    first.count = count->is_integer() ? count->integer() : -1;
    first.row = std::move(row);
    return first;
  }

  Result<StoredRow> InsertRow(const std::string& sql, const FieldValue& value) override {
    Result<SQLHSTMT> statement = Prepared(sql);
    if (!statement.ok()) return statement.status();
    OdbcParameters parameters(traits_);
    if (!Succeeded(parameters.Bind(statement.value(), value))) return Failure(statement.value());
    if (Status s = Execute(statement.value()); !s.ok()) return s;
    CursorGuard guard(statement.value());
    Result<std::vector<ResultColumn>> described = Describe(statement.value());
    if (!described.ok()) return described.status();
    const std::vector<ResultColumn>& columns = described.value();
    const SQLRETURN rc = SQLFetch(statement.value());
    if (!Succeeded(rc) || columns.empty()) {
      return rc == SQL_NO_DATA ? Status::Failure(-1, "the new row was not returned")
                               : Failure(statement.value());
    }
    StoredRow row;
    for (size_t i = 0; i + 1 < columns.size(); ++i) {
      Result<FieldValue> read = ReadValue(statement.value(), i, ClassOf(columns[i].sql_type));
      if (!read.ok()) return read.status();
      row.values.push_back(std::move(read).value());
    }
    Result<FieldValue> identity = ReadValue(statement.value(), columns.size() - 1, ValueClass::kText);
    if (!identity.ok()) return identity.status();
    row.identity = identity->is_text() ? identity->text() : std::string();
    return row;
  }

  Result<std::optional<std::string>> UpdateRow(const std::string& sql, const FieldValue& value,
                                               const std::string& identity) override {
    Result<SQLHSTMT> statement = Prepared(sql);
    if (!statement.ok()) return statement.status();
    OdbcParameters parameters(traits_);
    if (!value.is_null() && !Succeeded(parameters.Bind(statement.value(), value))) {
      return Failure(statement.value());
    }
    if (!Succeeded(parameters.BindNarrow(statement.value(), identity))) {
      return Failure(statement.value());
    }
    bool no_data = false;
    if (Status s = Execute(statement.value(), &no_data); !s.ok()) return s;
    CursorGuard guard(statement.value());
    if (no_data) return std::optional<std::string>();
    if (traits_.identity_moves_on_update) {
      const SQLRETURN rc = SQLFetch(statement.value());
      if (rc == SQL_NO_DATA) return std::optional<std::string>();
      if (!Succeeded(rc)) return Failure(statement.value());
      Result<FieldValue> moved = ReadValue(statement.value(), 0, ValueClass::kText);
      if (!moved.ok()) return moved.status();
      return std::optional<std::string>(moved->is_text() ? moved->text() : std::string());
    }
    SQLLEN rows = 0;
    if (!Succeeded(SQLRowCount(statement.value(), &rows))) return Failure(statement.value());
    if (rows == 0) return std::optional<std::string>();
    return std::optional<std::string>(identity);
  }

  Status SelectRows(const std::string& sql, const std::vector<FieldValue>& parameters,
                    const std::function<bool(std::vector<FieldValue>&)>& each) override {
    Result<SQLHSTMT> statement = Prepared(sql);
    if (!statement.ok()) return statement.status();
    OdbcParameters bound(traits_);
    for (const FieldValue& parameter : parameters) {
      if (!Succeeded(bound.Bind(statement.value(), parameter))) return Failure(statement.value());
    }
    if (Status s = Execute(statement.value()); !s.ok()) return s;
    CursorGuard guard(statement.value());
    Result<std::vector<ResultColumn>> described = Describe(statement.value());
    if (!described.ok()) return described.status();
    std::vector<FieldValue> row;
    for (;;) {
      const SQLRETURN rc = SQLFetch(statement.value());
      if (rc == SQL_NO_DATA) return Status::Ok();
      if (!Succeeded(rc)) return Failure(statement.value());
      row.clear();
      for (size_t i = 0; i < described->size(); ++i) {
        Result<FieldValue> value = ReadValue(statement.value(), i, ClassOf(described.value()[i].sql_type));
        if (!value.ok()) return value.status();
        row.push_back(std::move(value).value());
      }
      if (!each(row)) return Status::Ok();
    }
  }

  // Manual commit: the driver starts a transaction with the next statement.
  Status BeginTransaction(const std::string& serial_key) override {
    if (!SetAutocommit(false)) return OdbcFailure(connection_, "a transaction cannot be started");
    in_transaction_ = true;
    if (traits_.serialize_on_key.empty()) return Status::Ok();
    Result<SQLHSTMT> statement = Prepared(std::string(traits_.serialize_on_key));
    Status serialized = statement.status();
    if (statement.ok()) {
      OdbcParameters parameters(traits_);
      if (!Succeeded(parameters.Bind(statement.value(), FieldValue(serial_key)))) {
        serialized = Failure(statement.value());
      } else {
        serialized = Execute(statement.value());
        SQLFreeStmt(statement.value(), SQL_CLOSE);
        SQLFreeStmt(statement.value(), SQL_RESET_PARAMS);
      }
    }
    if (!serialized.ok()) RollbackTransaction();
    return serialized;
  }

  Status CommitTransaction() override {
    if (!in_transaction_) return Status::Ok();
    const SQLRETURN rc = SQLEndTran(SQL_HANDLE_DBC, connection_.get(), SQL_COMMIT);
    Status committed = Succeeded(rc) ? Status::Ok() : OdbcFailure(connection_, "commit failed");
    // Rolled back before autocommit comes back on: switching it on commits.
    if (!committed.ok()) SQLEndTran(SQL_HANDLE_DBC, connection_.get(), SQL_ROLLBACK);
    EndTransaction();
    return committed;
  }

  void RollbackTransaction() override {
    if (!in_transaction_) return;
    SQLEndTran(SQL_HANDLE_DBC, connection_.get(), SQL_ROLLBACK);
    EndTransaction();
  }

  Result<std::vector<DescribedColumn>> DescribeTable(const std::string& table) override {
    Result<SQLHSTMT> statement = Prepared("SELECT * FROM " + table + " WHERE 1 = 0");
    if (!statement.ok()) return statement.status();
    if (Status s = Execute(statement.value()); !s.ok()) return s;
    CursorGuard guard(statement.value());
    Result<std::vector<ResultColumn>> described = Describe(statement.value());
    if (!described.ok()) return described.status();
    std::vector<DescribedColumn> columns;
    for (const ResultColumn& column : described.value()) {
      const int64_t size = SizeOf(column);
      ColumnKind kind = ColumnKind::kText;
      if (ClassOf(column.sql_type) == ValueClass::kDouble) kind = ColumnKind::kDouble;
      else if (ClassOf(column.sql_type) == ValueClass::kInteger) kind = ColumnKind::kInteger;
      else if (size == kUnlimitedLength) kind = ColumnKind::kLongText;
      columns.push_back({column.name, column.type_name, kind, size});
    }
    return columns;
  }

  Status RunScript(const std::string& script) override {
    Result<OdbcHandle> statement = OdbcHandle::Allocate(SQL_HANDLE_STMT, connection_.get());
    if (!statement.ok()) return statement.status();
    for (const std::string& text : SplitSchemaScript(script)) {
      std::string copy = text;
      const SQLRETURN rc =
          SQLExecDirect(statement->get(), reinterpret_cast<SQLCHAR*>(copy.data()), SQL_NTS);
      if (!Succeeded(rc) && rc != SQL_NO_DATA) return OdbcFailure(statement.value(), "script failed");
      SQLFreeStmt(statement->get(), SQL_CLOSE);
    }
    return Status::Ok();
  }

 private:
  // Closes the cursor of a statement when the scope ends, so the prepared
  // statement can run again.
  class CursorGuard {
   public:
    explicit CursorGuard(SQLHSTMT statement) : statement_(statement) {}
    CursorGuard(const CursorGuard&) = delete;
    CursorGuard& operator=(const CursorGuard&) = delete;
    ~CursorGuard() {
      SQLFreeStmt(statement_, SQL_CLOSE);
      SQLFreeStmt(statement_, SQL_RESET_PARAMS);
    }

   private:
    SQLHSTMT statement_;
  };

  bool SetAutocommit(bool on) {
    const auto value = static_cast<SQLULEN>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF);
    return Succeeded(SQLSetConnectAttr(connection_.get(), SQL_ATTR_AUTOCOMMIT,
                                       reinterpret_cast<SQLPOINTER>(value), SQL_IS_UINTEGER));
  }

  void EndTransaction() {
    SetAutocommit(true);
    in_transaction_ = false;
  }

  Status Failure(SQLHSTMT statement) const {
    return OdbcFailure(SQL_HANDLE_STMT, statement, "statement failed");
  }

  // Success also when the statement touched no row (SQL_NO_DATA); then
  // `no_data` (when given) is set and there is no result set to read.
  Status Execute(SQLHSTMT statement, bool* no_data = nullptr) {
    const SQLRETURN rc = SQLExecute(statement);
    if (no_data != nullptr) *no_data = rc == SQL_NO_DATA;
    if (Succeeded(rc) || rc == SQL_NO_DATA) return Status::Ok();
    Status failure = Failure(statement);
    SQLFreeStmt(statement, SQL_CLOSE);
    SQLFreeStmt(statement, SQL_RESET_PARAMS);
    return failure;
  }

  // Statements are prepared once per connection and kept.
  Result<SQLHSTMT> Prepared(const std::string& sql) {
    auto found = statements_.find(sql);
    if (found != statements_.end()) return found->second.get();
    Result<OdbcHandle> statement = OdbcHandle::Allocate(SQL_HANDLE_STMT, connection_.get());
    if (!statement.ok()) return statement.status();
    std::string copy = sql;
    if (!Succeeded(SQLPrepare(statement->get(), reinterpret_cast<SQLCHAR*>(copy.data()),
                              static_cast<SQLINTEGER>(copy.size())))) {
      return OdbcFailure(statement.value(), "prepare failed");
    }
    SQLHSTMT kept = statement->get();
    statements_.emplace(sql, std::move(statement).value());
    return kept;
  }

  Result<std::vector<ResultColumn>> Describe(SQLHSTMT statement) {
    SQLSMALLINT count = 0;
    if (!Succeeded(SQLNumResultCols(statement, &count))) return Failure(statement);
    std::vector<ResultColumn> columns;
    for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(count); ++i) {
      SQLCHAR name[256] = {};
      SQLSMALLINT name_length = 0, sql_type = 0, digits = 0, nullable = 0;
      SQLULEN size = 0;
      if (!Succeeded(SQLDescribeCol(statement, i, name, sizeof name, &name_length, &sql_type, &size,
                                    &digits, &nullable))) {
        return Failure(statement);
      }
      SQLCHAR type_name[128] = {};
      SQLSMALLINT type_length = 0;
      SQLColAttribute(statement, i, SQL_DESC_TYPE_NAME, type_name, sizeof type_name, &type_length,
                      nullptr);
      columns.push_back({reinterpret_cast<const char*>(name), sql_type, size,
                         reinterpret_cast<const char*>(type_name)});
    }
    return columns;
  }

  int64_t SizeOf(const ResultColumn& column) const {
    switch (ClassOf(column.sql_type)) {
      case ValueClass::kDouble: return 8;
      case ValueClass::kInteger: return column.sql_type == SQL_BIGINT ? 8 : 4;
      case ValueClass::kText: break;
    }
    // psqlODBC reports PostgreSQL's text as a varchar of some default size.
    if (column.sql_type == SQL_LONGVARCHAR || column.sql_type == SQL_WLONGVARCHAR ||
        column.type_name == "text" || column.type_name == "ntext") {
      return kUnlimitedLength;
    }
    if (column.size == 0 && traits_.zero_size_is_unlimited) return kUnlimitedLength;
    return static_cast<int64_t>(column.size);
  }

  Result<FieldValue> ReadValue(SQLHSTMT statement, size_t index, ValueClass value_class) {
    const auto column = static_cast<SQLUSMALLINT>(index + 1);
    SQLLEN indicator = 0;
    if (value_class == ValueClass::kDouble) {
      double number = 0;
      if (!Succeeded(SQLGetData(statement, column, SQL_C_DOUBLE, &number, 0, &indicator))) {
        return Failure(statement);
      }
      return indicator == SQL_NULL_DATA ? FieldValue() : FieldValue(number);
    }
    if (value_class == ValueClass::kInteger) {
      int64_t number = 0;
      if (!Succeeded(SQLGetData(statement, column, SQL_C_SBIGINT, &number, 0, &indicator))) {
        return Failure(statement);
      }
      return indicator == SQL_NULL_DATA ? FieldValue() : FieldValue(number);
    }
    // Text arrives in pieces; each piece but the last fills the buffer less
    // its terminating NUL.
    std::string wide;
    std::vector<char> buffer(8192);
    for (;;) {
      const SQLRETURN rc = SQLGetData(statement, column, SQL_C_WCHAR, buffer.data(),
                                      static_cast<SQLLEN>(buffer.size()), &indicator);
      if (rc == SQL_NO_DATA) break;
      if (!Succeeded(rc)) return Failure(statement);
      if (indicator == SQL_NULL_DATA) return FieldValue();
      const bool more = rc == SQL_SUCCESS_WITH_INFO &&
                        (indicator == SQL_NO_TOTAL || indicator > static_cast<SQLLEN>(buffer.size()) - 2);
      const size_t piece = more ? buffer.size() - 2 : static_cast<size_t>(indicator);
      wide.append(buffer.data(), piece);
      if (!more) break;
    }
    return FieldValue(WideToUtf8(wide));
  }

  OdbcHandle environment_;  // declared first: outlives the connection
  OdbcHandle connection_;   // and the connection outlives its statements
  const EngineTraits& traits_;
  std::map<std::string, OdbcHandle> statements_;
  bool in_transaction_ = false;
};

// The DBMS name that the driver reports, to the engine that Hostlore knows.
const EngineTraits* TraitsForDbms(std::string_view dbms) {
  if (dbms.find("PostgreSQL") != std::string_view::npos) return &TraitsOf(Engine::kPostgreSql);
  if (dbms.find("SQL Server") != std::string_view::npos) return &TraitsOf(Engine::kSqlServer);
  if (dbms.find("SQLite") != std::string_view::npos) return &TraitsOf(Engine::kSqlite);
  return nullptr;
}

}  // namespace

Result<std::shared_ptr<EngineConnection>> OpenOdbcConnection(const std::string& connection_string,
                                                             OdbcAccess access) {
  Result<OdbcHandle> environment = OdbcHandle::Allocate(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
  if (!environment.ok()) return environment.status();
  SQLSetEnvAttr(environment->get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  Result<OdbcHandle> connection = OdbcHandle::Allocate(SQL_HANDLE_DBC, environment->get());
  if (!connection.ok()) return connection.status();
  SQLSetConnectAttr(connection->get(), SQL_ATTR_LOGIN_TIMEOUT,
                    reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(kOdbcLoginTimeoutSeconds)), 0);
  const bool read_only = access == OdbcAccess::kReadOnly;
  if (read_only) {
    SQLSetConnectAttr(connection->get(), SQL_ATTR_ACCESS_MODE,
                      reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(SQL_MODE_READ_ONLY)), 0);
  }
  std::string text = connection_string;
  const SQLRETURN rc = SQLDriverConnect(connection->get(), nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                                        static_cast<SQLSMALLINT>(text.size()), nullptr, 0, nullptr,
                                        SQL_DRIVER_NOPROMPT);
  if (!Succeeded(rc)) {
    // The handle's SQLDisconnect on an unconnected handle only fails quietly.
    return OdbcFailure(connection.value(), "connection refused");
  }
  SQLCHAR dbms[128] = {};
  SQLSMALLINT length = 0;
  SQLGetInfo(connection->get(), SQL_DBMS_NAME, dbms, sizeof dbms, &length);
  const EngineTraits* traits = TraitsForDbms(reinterpret_cast<const char*>(dbms));
  if (traits == nullptr) {
    return Status::Failure(-1, std::string("unsupported database engine: ") +
                                   reinterpret_cast<const char*>(dbms));
  }
  // The access mode is only a hint to most drivers; PostgreSQL is told for
  // the whole session, so that the server itself refuses every write.
  if (read_only && traits->engine == Engine::kPostgreSql) {
    Result<OdbcHandle> statement = OdbcHandle::Allocate(SQL_HANDLE_STMT, connection->get());
    if (!statement.ok()) return statement.status();
    std::string set = "SET SESSION CHARACTERISTICS AS TRANSACTION READ ONLY";
    if (!Succeeded(SQLExecDirect(statement->get(), reinterpret_cast<SQLCHAR*>(set.data()), SQL_NTS))) {
      return OdbcFailure(statement.value(), "cannot make the session read-only");
    }
  }
  return std::shared_ptr<EngineConnection>(std::make_shared<OdbcConnection>(
      std::move(environment).value(), std::move(connection).value(), *traits));
}

std::string SqlServerOdbcDriver() {
  Result<OdbcHandle> environment = OdbcHandle::Allocate(SQL_HANDLE_ENV, SQL_NULL_HANDLE);
  if (!environment.ok()) return "FreeTDS";
  SQLSetEnvAttr(environment->get(), SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0);
  std::string found = "FreeTDS";
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  for (;;) {
    SQLCHAR name[256] = {};
    SQLCHAR attributes[1024] = {};
    SQLSMALLINT name_length = 0, attributes_length = 0;
    const SQLRETURN rc = SQLDrivers(environment->get(), direction, name, sizeof name, &name_length,
                                    attributes, sizeof attributes, &attributes_length);
    if (!Succeeded(rc)) break;
    direction = SQL_FETCH_NEXT;
    const std::string driver(reinterpret_cast<const char*>(name));
    // Microsoft's drivers are named "ODBC Driver NN for SQL Server"; take the newest.
    if (driver.starts_with("ODBC Driver ") && driver.ends_with(" for SQL Server") &&
        (found == "FreeTDS" || driver > found)) {
      found = driver;
    }
  }
  return found;
}

}  // namespace hostlore
