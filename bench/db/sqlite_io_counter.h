// Counts what SQLite asks of the disk: a VFS that passes every call on to
// the default one and counts the syncs (fsync, fdatasync) and writes of the
// files it opens. Installed as the default VFS, it sees every connection
// that the process opens afterwards.
#pragma once

#include <cstdint>

namespace hostlore::bench {

struct SqliteIo {
  uint64_t syncs = 0;
  uint64_t writes = 0;
};

// Installs the counting VFS as the default one (once per process).
void InstallSqliteIoCounter();

// The counts since the process installed the counter.
SqliteIo SqliteIoSoFar();

}  // namespace hostlore::bench
