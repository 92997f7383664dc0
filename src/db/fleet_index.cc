#include "db/fleet_index.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>

namespace hostlore {
namespace {

// Raised whenever the tables below change: an index of another version is
// built afresh.
constexpr int kIndexVersion = 7;

constexpr char kSchema[] = R"sql(
CREATE TABLE meta (key TEXT PRIMARY KEY, value TEXT);
CREATE TABLE computer (
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL UNIQUE,
  folded TEXT NOT NULL,
  inventoried INTEGER NOT NULL,
  stamp TEXT,
  address TEXT NOT NULL DEFAULT '',
  address_key INTEGER,
  os TEXT NOT NULL DEFAULT '',
  service_pack TEXT NOT NULL DEFAULT '',
  domain TEXT NOT NULL DEFAULT '',
  user TEXT NOT NULL DEFAULT '',
  memory_mb INTEGER,
  manufacturer TEXT NOT NULL DEFAULT '',
  model TEXT NOT NULL DEFAULT '',
  last_inventory TEXT,
  last_answer TEXT,
  last_contact TEXT,
  outcome TEXT NOT NULL,
  first_seen TEXT,
  last_change TEXT,
  search TEXT NOT NULL DEFAULT ''
);
-- The computers in the order lists give them by default.
CREATE INDEX computer_folded ON computer (folded, name);
CREATE INDEX computer_last_contact ON computer (last_contact);
CREATE INDEX computer_os ON computer (os);
CREATE INDEX computer_domain ON computer (domain);
CREATE INDEX computer_outcome ON computer (outcome);
CREATE TABLE program (
  id INTEGER PRIMARY KEY, name TEXT NOT NULL UNIQUE, folded TEXT NOT NULL,
  computers INTEGER NOT NULL DEFAULT 0);
-- Programs in the order answers list them, so that a program's
-- installations need sorting only by computer.
CREATE INDEX program_folded ON program (folded, name);
CREATE TABLE program_version (
  program INTEGER NOT NULL, version TEXT NOT NULL, computers INTEGER NOT NULL,
  PRIMARY KEY (program, version)) WITHOUT ROWID;
CREATE TABLE installation (
  computer INTEGER NOT NULL, program INTEGER NOT NULL, version TEXT NOT NULL,
  PRIMARY KEY (computer, program, version)) WITHOUT ROWID;

CREATE TABLE change (
  computer INTEGER NOT NULL, seq INTEGER NOT NULL, time TEXT NOT NULL, kind TEXT NOT NULL,
  subject TEXT NOT NULL, message TEXT NOT NULL,
  PRIMARY KEY (computer, seq)) WITHOUT ROWID;
)sql";

// The indexes that a refresh of most of the fleet drops and builds anew:
// building them whole is far cheaper than keeping them in order row by row.
constexpr char kSecondaryIndexes[] =
    "CREATE INDEX IF NOT EXISTS installation_program ON installation (program, version, computer);"
    // Every list of changes reads in time order: the index holds the whole
    // record, so that a week of the fleet's changes is one run of it, not
    // a look-up per record.
    "CREATE INDEX IF NOT EXISTS change_time ON change (time, computer, seq, kind, subject, message);"
    "CREATE INDEX IF NOT EXISTS change_kind ON change (kind, time);";

Result<std::string> MetaValue(IndexDb& db, std::string_view key) {
  Result<IndexStatement> select = db.Prepare("SELECT value FROM meta WHERE key = ?");
  if (!select.ok()) return select.status();
  select->Bind(1, key);
  Result<bool> row = select->Step();
  if (!row.ok()) return row.status();
  return row.value() ? select->Text(0) : std::string();
}

Result<int64_t> UserVersion(IndexDb& db) {
  Result<IndexStatement> pragma = db.Prepare("PRAGMA user_version");
  if (!pragma.ok()) return pragma.status();
  Result<bool> row = pragma->Step();
  if (!row.ok()) return row.status();
  return pragma->Integer(0);
}

// Builds the tables unless the file already holds this version's index of
// `server`; anything else in the file is dropped first.
Status PrepareTables(IndexDb& db, std::string_view server) {
  // The index is derived data: a file lost in a crash is rebuilt (see
  // Open), so its writes need not wait for the disk.
  if (Status s = db.Execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=OFF; PRAGMA cache_size=-16000"); !s.ok()) {
    return s;
  }
  if (Status s = db.Execute("BEGIN IMMEDIATE"); !s.ok()) return s;
  Result<int64_t> version = UserVersion(db);
  if (version.ok() && version.value() == kIndexVersion) {
    Result<std::string> owner = MetaValue(db, "server");
    if (owner.ok() && owner.value() == server) return db.Execute("COMMIT");
  }
  std::string drop;
  for (const char* table : {"meta", "computer", "program", "program_version", "installation", "change"}) {
    drop += std::string("DROP TABLE IF EXISTS ") + table + ";";
  }
  Status built = db.Execute(drop + kSchema + kSecondaryIndexes + "PRAGMA user_version = " +
                            std::to_string(kIndexVersion));
  if (built.ok()) {
    Result<IndexStatement> insert = db.Prepare("INSERT INTO meta (key, value) VALUES ('server', ?)");
    built = insert.ok() ? insert->Bind(1, server).Run() : insert.status();
  }
  if (!built.ok()) {
    db.Execute("ROLLBACK");
    return built;
  }
  return db.Execute("COMMIT");
}

// FNV-1a: stable across builds and machines, unlike std::hash.
std::string HashName(std::string_view text) {
  uint64_t hash = 14695981039346656037ull;
  for (const char c : text) {
    hash ^= static_cast<uint8_t>(c);
    hash *= 1099511628211ull;
  }
  char hex[17];
  std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
  return hex;
}

// A new file is created 0600 before SQLite opens it; the folder 0700.
Status CreatePrivately(const std::string& path) {
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  std::error_code error;
  if (!folder.empty() && !std::filesystem::exists(folder, error)) {
    std::filesystem::create_directories(folder, error);
    if (error) return Status::Failure(error.value(), folder.string() + ": " + error.message());
    ::chmod(folder.c_str(), 0700);
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0) return Status::Failure(errno, path + ": " + std::strerror(errno));
  ::close(fd);
  return Status::Ok();
}

}  // namespace

Result<std::unique_ptr<FleetIndex>> FleetIndex::Open(const std::string& path, std::string_view server,
                                                     IndexDb::Mode mode) {
  for (int attempt = 0;; ++attempt) {
    if (mode == IndexDb::Mode::kWrite && path != ":memory:") {
      if (Status s = CreatePrivately(path); !s.ok()) return s;
    }
    Result<std::unique_ptr<IndexDb>> db = IndexDb::Open(path, mode);
    if (!db.ok()) return db.status();
    if (mode == IndexDb::Mode::kRead) {
      Result<std::string> owner = MetaValue(*db.value(), "server");
      if (!owner.ok() || owner.value() != server) {
        return Status::Failure(-1, path + " is no fleet index of " + std::string(server));
      }
      return std::unique_ptr<FleetIndex>(new FleetIndex(std::move(db).value()));
    }
    const Status prepared = PrepareTables(*db.value(), server);
    if (prepared.ok()) return std::unique_ptr<FleetIndex>(new FleetIndex(std::move(db).value()));
    const int64_t primary = prepared.number() & 0xFF;
    if (attempt > 0 || path == ":memory:" || (primary != SQLITE_CORRUPT && primary != SQLITE_NOTADB)) {
      return Status::Failure(prepared.number(), path + ": " + prepared.description());
    }
    // A damaged index is built again from the inventory, which holds it all.
    db.value().reset();
    std::error_code ignored;
    for (const char* suffix : {"", "-wal", "-shm"}) std::filesystem::remove(path + suffix, ignored);
  }
}

Status FleetIndex::DropSecondaryIndexes() {
  return db_->Execute("DROP INDEX IF EXISTS installation_program; DROP INDEX IF EXISTS change_time; "
                      "DROP INDEX IF EXISTS change_kind");
}

Status FleetIndex::CreateSecondaryIndexes() { return db_->Execute(kSecondaryIndexes); }

Result<std::string> FleetIndex::Meta(std::string_view key) { return MetaValue(*db_, key); }

Status FleetIndex::SetMeta(std::string_view key, const std::string& value) {
  Result<IndexStatement> set = db_->Prepare("INSERT OR REPLACE INTO meta (key, value) VALUES (?, ?)");
  if (!set.ok()) return set.status();
  return set->Bind(1, key).Bind(2, value).Run();
}

void FleetIndex::ReleaseMemory() { db_->Execute("PRAGMA shrink_memory"); }

std::optional<std::string> FleetIndex::RefreshedAt() {
  Result<std::string> value = MetaValue(*db_, "refreshed");
  if (!value.ok() || value->empty()) return std::nullopt;
  return value.value();
}

std::string DefaultIndexPath(std::string_view server) {
  std::filesystem::path cache;
  if (const char* xdg = secure_getenv("XDG_CACHE_HOME"); xdg != nullptr && *xdg == '/') {
    cache = xdg;
  } else if (const char* home = secure_getenv("HOME"); home != nullptr && *home == '/') {
    cache = std::filesystem::path(home) / ".cache";
  } else {
    return {};
  }
  return (cache / "hostlore" / "index" / (HashName(server) + ".sqlite")).string();
}

}  // namespace hostlore
