#include "db/index_sqlite.h"

namespace hostlore {
namespace {

// Long enough for a refresh of the whole fleet by another process.
constexpr int kIndexBusyTimeoutMs = 120000;

}  // namespace

Result<std::unique_ptr<IndexDb>> IndexDb::Open(const std::string& path, Mode mode) {
  sqlite3* raw = nullptr;
  const int flags = (mode == Mode::kWrite ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY) |
                    SQLITE_OPEN_NOMUTEX;
  const int rc = sqlite3_open_v2(path.c_str(), &raw, flags, nullptr);
  std::unique_ptr<IndexDb> db(new IndexDb(raw));
  if (rc != SQLITE_OK) {
    return Status::Failure(rc, path + ": " + (raw ? sqlite3_errmsg(raw) : sqlite3_errstr(rc)));
  }
  sqlite3_busy_timeout(raw, kIndexBusyTimeoutMs);
  return db;
}

IndexDb::~IndexDb() { sqlite3_close_v2(db_); }

void IndexDb::MapIntoMemory() {
  sqlite3_exec(db_, "PRAGMA mmap_size = 1073741824;", nullptr, nullptr, nullptr);
}

Status IndexDb::Failure() const {
  return Status::Failure(sqlite3_extended_errcode(db_), sqlite3_errmsg(db_));
}

Status IndexDb::Execute(const std::string& sql) {
  if (sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr) == SQLITE_OK) return Status::Ok();
  return Failure();
}

Result<IndexStatement> IndexDb::Prepare(std::string_view sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db_, sql.data(), static_cast<int>(sql.size()), &statement, nullptr) != SQLITE_OK) {
    return Failure();
  }
  return IndexStatement(statement, this);
}

IndexStatement& IndexStatement::Bind(int index, std::string_view text) {
  sqlite3_bind_text(statement_, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  return *this;
}

IndexStatement& IndexStatement::Bind(int index, int64_t number) {
  sqlite3_bind_int64(statement_, index, number);
  return *this;
}

IndexStatement& IndexStatement::Bind(int index, const std::optional<std::string>& text) {
  if (text) return Bind(index, std::string_view(*text));
  sqlite3_bind_null(statement_, index);
  return *this;
}

Result<bool> IndexStatement::Step() {
  const int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  return db_->Failure();
}

Status IndexStatement::Run() {
  Result<bool> stepped = Step();
  Reset();
  return stepped.status();
}

void IndexStatement::Reset() {
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
}

std::string IndexStatement::Text(int column) const {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_, column));
  return text ? std::string(text, static_cast<size_t>(sqlite3_column_bytes(statement_, column))) : std::string();
}

std::optional<std::string> IndexStatement::OptionalText(int column) const {
  if (IsNull(column)) return std::nullopt;
  return Text(column);
}

int64_t IndexStatement::Integer(int column) const { return sqlite3_column_int64(statement_, column); }

}  // namespace hostlore
