// The native SQLite engine.
#pragma once

#include <memory>
#include <string>

#include "db/engine_connection.h"
#include "platform/status.h"

namespace hostlore {

// How long a statement waits for another process's write lock before it
// fails with "database is locked".
inline constexpr int kSqliteBusyTimeoutMs = 60000;

enum class SqliteAccess { kReadWrite, kReadOnly };

// Opens the SQLite file at `path`, creating it when missing, in WAL mode with
// synchronous=NORMAL and a busy timeout, so that many agents can write one
// file at once. A file that lacks any of the five tables gets them.
// Failure: the file cannot be opened or created, or is no database; the
// description names the path and, for a file the system refused, its reason.
// kReadOnly opens an existing file that the connection can never write:
// nothing is created or switched, and a file without all five tables fails.
Result<std::shared_ptr<EngineConnection>> OpenSqliteConnection(
    const std::string& path, SqliteAccess access = SqliteAccess::kReadWrite);

}  // namespace hostlore
