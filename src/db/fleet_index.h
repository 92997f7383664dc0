// The fleet index: what the fleet-wide questions need from the inventory,
// derived from the stored rows and texts (software lists and histories read
// by the comparison's own parsers) into a SQLite file of its own, outside
// the inventory, so that "which computers have X" or "what changed since
// Monday" is answered from indexed tables in milliseconds on any engine,
// while the inventory is only ever read.
//
// Tables: computer (one row per Asset row, and per LastAccess name that
// belongs to no Asset row), program (each distinct program name),
// installation (program, version, computer), change (every history record,
// with its kind). RefreshFleetIndex (fleet_index_refresh.h) keeps them
// current.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "db/index_sqlite.h"
#include "platform/status.h"

namespace hostlore {

class FleetIndex {
 public:
  // Opens the index at `path` for the inventory named by `server` (the
  // server field). kWrite creates the file (mode 0600, its folder 0700: it
  // holds inventory data) and its tables, and starts afresh when the file
  // was made by another version or for another inventory, or is damaged. kRead opens an
  // existing index of that inventory. Failure: the file cannot be opened,
  // or (kRead) is no index of `server`.
  static Result<std::unique_ptr<FleetIndex>> Open(const std::string& path, std::string_view server,
                                                  IndexDb::Mode mode);

  IndexDb& db() { return *db_; }

  // The indexes that only speed up questions (by program, by time): a
  // refresh of most of the fleet drops them first and creates them at its
  // end; questions meanwhile get the same answers, slower.
  Status DropSecondaryIndexes();
  Status CreateSecondaryIndexes();
  // The time of the last completed refresh (stored form), if any.
  std::optional<std::string> RefreshedAt();

  // The index's own notes: the server it indexes, the time of the last
  // refresh, what the inventory said then. Absent keys read as "".
  Result<std::string> Meta(std::string_view key);
  Status SetMeta(std::string_view key, const std::string& value);
  // Gives back the memory that a refresh's cache held.
  void ReleaseMemory();

 private:
  explicit FleetIndex(std::unique_ptr<IndexDb> db) : db_(std::move(db)) {}
  std::unique_ptr<IndexDb> db_;
};

// Where the index of `server` lives unless told otherwise:
// $XDG_CACHE_HOME/hostlore/index/<hash of the server field>.sqlite, else
// ~/.cache/hostlore/index/...; empty when neither folder is known.
std::string DefaultIndexPath(std::string_view server);

}  // namespace hostlore
