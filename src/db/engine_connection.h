// The inside of an engine: the three statement shapes that every result set
// is made of (sql_text.h builds their texts). Implemented by the native
// SQLite engine and by the ODBC engine; the shared result set
// (cached_record_set.h) turns them into the operations of database.h.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "db/engine_traits.h"
#include "platform/database/field_value.h"
#include "db/table_layout.h"
#include "platform/status.h"

namespace hostlore {

struct ColumnInfo {
  std::string name;      // as the server reports it (PostgreSQL: folded to lower case)
  int64_t defined_size;  // see RecordSet::DefinedSize
};

// A column as the schema declares it, for checking a schema.
struct DescribedColumn {
  std::string name;
  std::string type;  // the server's type name, for people
  ColumnKind kind;   // kSpare when the type fits none of the other kinds
  int64_t defined_size;
};

struct StoredRow {
  std::vector<FieldValue> values;  // the row's visible columns
  std::string identity;            // the row's identity, as text
};

struct FirstRow {
  std::vector<ColumnInfo> columns;  // visible columns, hidden ones removed
  std::optional<StoredRow> row;     // absent when nothing was selected
  int64_t count = 0;                // rows selected
};

class EngineConnection {
 public:
  EngineConnection() = default;
  EngineConnection(const EngineConnection&) = delete;
  EngineConnection& operator=(const EngineConnection&) = delete;
  virtual ~EngineConnection() = default;

  virtual const EngineTraits& traits() const = 0;

  // Runs a SelectFirstRowSql text with `key` bound to its marker (when set).
  virtual Result<FirstRow> SelectFirstRow(const std::string& sql,
                                          const std::optional<std::string>& key) = 0;

  // Runs an InsertRowSql text with `value` bound; gives back the stored row
  // and its identity.
  virtual Result<StoredRow> InsertRow(const std::string& sql, const FieldValue& value) = 0;

  // Runs an UpdateColumnSql text: `value` (when not Null) and `identity` are
  // bound. Gives the row's identity after the write, or nothing when no row
  // had that identity.
  virtual Result<std::optional<std::string>> UpdateRow(const std::string& sql,
                                                       const FieldValue& value,
                                                       const std::string& identity) = 0;

  // For the fleet queries: runs `sql`, a SELECT of our own with "?" markers,
  // with `parameters` bound to them in order, and hands each selected row to
  // `each` (the values in select order, Null distinct from the empty text);
  // stops when `each` returns false. Failure: the server refused the query
  // or the connection was lost; rows handed on before stay handed on.
  virtual Status SelectRows(const std::string& sql, const std::vector<FieldValue>& parameters,
                            const std::function<bool(std::vector<FieldValue>&)>& each) = 0;

  // The transaction of Database::BeginTransaction and its end.
  virtual Status BeginTransaction(const std::string& serial_key) = 0;
  virtual Status CommitTransaction() = 0;
  virtual void RollbackTransaction() = 0;

  // For `hostlore-db`: the columns of `table` (one of our layout's names) in
  // order. Failure: no such table.
  virtual Result<std::vector<DescribedColumn>> DescribeTable(const std::string& table) = 0;

  // For `hostlore-db`: runs the statements of a schema script (see
  // SplitSchemaScript), stopping at the first failure.
  virtual Status RunScript(const std::string& script) = 0;
};

}  // namespace hostlore
