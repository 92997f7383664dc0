// A thin RAII layer over the SQLite file of the fleet index: the connection,
// prepared statements with typed binding and reading, and the failure text
// of the last call.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/status.h"

namespace hostlore {

class IndexStatement;

class IndexDb {
 public:
  enum class Mode { kWrite, kRead };

  // Opens (kWrite: creating) the file at `path` with a busy timeout; ":memory:"
  // gives a private in-memory file. Failure: the file cannot be opened.
  static Result<std::unique_ptr<IndexDb>> Open(const std::string& path, Mode mode);

  IndexDb(const IndexDb&) = delete;
  IndexDb& operator=(const IndexDb&) = delete;
  ~IndexDb();

  // Runs statements without results. Failure: SQLite's message.
  Status Execute(const std::string& sql);
  Result<IndexStatement> Prepare(std::string_view sql);
  Status Failure() const;
  int64_t LastInsertId() const { return sqlite3_last_insert_rowid(db_); }
  // Reads the file through a mapping rather than a system call per page: for
  // a process that reads much of the index once. Pages read count as the
  // process's memory, so a long-running reader does without.
  void MapIntoMemory();

 private:
  explicit IndexDb(sqlite3* db) : db_(db) {}
  sqlite3* db_;
};

// One prepared statement; Reset() makes it ready to run again with new values.
class IndexStatement {
 public:
  IndexStatement() = default;
  IndexStatement(sqlite3_stmt* statement, const IndexDb* db) : statement_(statement), db_(db) {}
  IndexStatement(IndexStatement&& other) noexcept : statement_(other.statement_), db_(other.db_) {
    other.statement_ = nullptr;
  }
  IndexStatement& operator=(IndexStatement&& other) noexcept {
    std::swap(statement_, other.statement_);
    db_ = other.db_;
    return *this;
  }
  IndexStatement(const IndexStatement&) = delete;
  IndexStatement& operator=(const IndexStatement&) = delete;
  ~IndexStatement() { sqlite3_finalize(statement_); }

  // Parameters count from 1. Text is copied.
  IndexStatement& Bind(int index, std::string_view text);
  IndexStatement& Bind(int index, const std::string& text) { return Bind(index, std::string_view(text)); }
  IndexStatement& Bind(int index, const char* text) { return Bind(index, std::string_view(text)); }
  IndexStatement& Bind(int index, int64_t number);
  IndexStatement& Bind(int index, const std::optional<std::string>& text);  // Null when absent

  // True while there is a row. Failure: SQLite's message.
  Result<bool> Step();
  // Runs a statement without rows to its end, then resets it.
  Status Run();
  void Reset();

  // Columns count from 0.
  std::string Text(int column) const;
  std::optional<std::string> OptionalText(int column) const;
  int64_t Integer(int column) const;
  bool IsNull(int column) const { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }

 private:
  sqlite3_stmt* statement_ = nullptr;
  const IndexDb* db_ = nullptr;
};

}  // namespace hostlore
