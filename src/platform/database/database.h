// The database seam: one connection, result sets on it, and the six
// operations that the stages use on a result set. Columns are addressed by
// position only; the stages never name a column.
//
// Every implementation (native SQLite, ODBC for the servers) keeps these
// contracts:
//  - A result set is client-side: its values are read when it is opened, and
//    reading a column never goes back to the server.
//  - It is positioned on the first row that the server returns for the query
//    and never moves; RecordCount() still counts every row that the query
//    selects.
//  - AddNew and Update store their change at once (autocommit, one statement
//    each), unless a transaction is open on the connection (see
//    Database::BeginTransaction): then every change waits for the commit and
//    is stored with all the others, or not at all.
//  - Text that comes from a target travels only as a query parameter.
// A connection and its result sets are used by one thread at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/database/field_value.h"
#include "platform/status.h"

namespace hostlore {

// What a result set selects: every column of `table`, either of all its rows
// (`key` unset) or of the rows whose `key_column` equals `key`. A per-key
// query also carries the key once more after the last table column, under the
// name Expr1, so that the table's own ordinals never move. `table` and
// `key_column` are names of our own layout, never text from a target.
struct TableQuery {
  std::string table;
  std::string key_column;
  std::optional<std::string> key;

  static TableQuery AllRows(std::string table, std::string key_column) {
    return {std::move(table), std::move(key_column), std::nullopt};
  }
  static TableQuery ForKey(std::string table, std::string key_column, std::string key) {
    return {std::move(table), std::move(key_column), std::move(key)};
  }
};

// The declared length of a column with no length limit (long text).
inline constexpr int64_t kUnlimitedLength = 1073741823;

class RecordSet {
 public:
  RecordSet() = default;
  RecordSet(const RecordSet&) = delete;
  RecordSet& operator=(const RecordSet&) = delete;
  virtual ~RecordSet() = default;

  // Number of rows that the query selected; -1 when the engine cannot tell.
  virtual int64_t RecordCount() const = 0;

  // Adds a row in which only column `ordinal` is set to `value` and stores it
  // at once; the new row becomes the current row. Failure: the server refused
  // the row; the current row is then unchanged.
  virtual Status AddNew(int ordinal, const FieldValue& value) = 0;

  // Sets column `ordinal` of the current row and stores it at once. Failure:
  // there is no current row, the column does not exist, the server refused
  // the value, or the row is no longer there ("Row cannot be located for
  // updating"): a write that changed nothing is never taken as success.
  virtual Status Update(int ordinal, const FieldValue& value) = 0;

  // The value of column `ordinal` of the current row, Null distinct from the
  // empty text. Failure: there is no current row ("Either BOF or EOF is
  // True...") or no such column.
  virtual Result<FieldValue> Field(int ordinal) const = 0;

  // The declared maximum length of column `ordinal` in characters:
  // kUnlimitedLength for long text, the value's size in bytes for numbers.
  virtual Result<int64_t> DefinedSize(int ordinal) const = 0;

  // Ends the result set; every later call fails. Closing twice is harmless.
  virtual void Close() = 0;
};

class Database {
 public:
  Database() = default;
  Database(const Database&) = delete;
  Database& operator=(const Database&) = delete;
  virtual ~Database() = default;

  // Runs `query` and returns its client-side result set, positioned on the
  // first selected row (or on no row). Failure: the server refused the query
  // (missing table, lost connection); the description is the server's. A
  // result set may outlive the Database that opened it.
  virtual Result<std::unique_ptr<RecordSet>> Open(const TableQuery& query) = 0;

  // Starts a transaction: from here on the changes made through the result
  // sets of this connection, opened before or after, are seen by this
  // connection only, and by others from the commit on, all at once. A
  // rollback, a failed commit, or the end of the connection or of the
  // process without a commit undo all of them. Transactions that give the
  // same `serial_key` (any text; the update run gives the computer's name)
  // run one after the other: a second one waits here until the first has
  // ended. An engine may serialize more than that (SQLite lets one writer of
  // a file at a time in). Failure: no transaction could be started (lost
  // connection, a lock wait that timed out); none is open then. One
  // transaction at a time per connection.
  virtual Status BeginTransaction(std::string_view serial_key) = 0;

  // Stores every change since BeginTransaction. Failure: none of them is
  // stored. Either way, later changes are stored at once again.
  virtual Status CommitTransaction() = 0;

  // Undoes every change since BeginTransaction; harmless without one.
  virtual void RollbackTransaction() = 0;
};

// Failure descriptions that the stages and tests recognise.
inline constexpr char kNoCurrentRow[] =
    "Either BOF or EOF is True, or the current record has been deleted. Requested operation "
    "requires a current record.";
inline constexpr char kNoSuchColumn[] =
    "Item cannot be found in the collection corresponding to the requested name or ordinal.";
inline constexpr char kRowNotFound[] =
    "Row cannot be located for updating. Some values may have been changed since it was last read.";
inline constexpr char kRecordSetClosed[] =
    "Operation is not allowed when the object is closed.";

}  // namespace hostlore
