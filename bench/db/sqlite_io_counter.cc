#include "sqlite_io_counter.h"

#include <sqlite3.h>

#include <atomic>
#include <cstring>

namespace hostlore::bench {
namespace {

std::atomic<uint64_t> syncs{0};
std::atomic<uint64_t> writes{0};
sqlite3_vfs* real_vfs = nullptr;
sqlite3_vfs counting_vfs;
sqlite3_io_methods counting_methods;

// Our file: the real VFS's file follows it in the same allocation.
struct CountingFile {
  sqlite3_file base;
  sqlite3_file* real() { return reinterpret_cast<sqlite3_file*>(this + 1); }
};

CountingFile* Of(sqlite3_file* file) { return reinterpret_cast<CountingFile*>(file); }

int Close(sqlite3_file* f) { return Of(f)->real()->pMethods->xClose(Of(f)->real()); }
int Read(sqlite3_file* f, void* buffer, int amount, sqlite3_int64 offset) {
  return Of(f)->real()->pMethods->xRead(Of(f)->real(), buffer, amount, offset);
}
int Write(sqlite3_file* f, const void* buffer, int amount, sqlite3_int64 offset) {
  ++writes;
  return Of(f)->real()->pMethods->xWrite(Of(f)->real(), buffer, amount, offset);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) { return Of(f)->real()->pMethods->xTruncate(Of(f)->real(), size); }
int Sync(sqlite3_file* f, int flags) {
  ++syncs;
  return Of(f)->real()->pMethods->xSync(Of(f)->real(), flags);
}
int FileSize(sqlite3_file* f, sqlite3_int64* size) { return Of(f)->real()->pMethods->xFileSize(Of(f)->real(), size); }
int Lock(sqlite3_file* f, int level) { return Of(f)->real()->pMethods->xLock(Of(f)->real(), level); }
int Unlock(sqlite3_file* f, int level) { return Of(f)->real()->pMethods->xUnlock(Of(f)->real(), level); }
int CheckReservedLock(sqlite3_file* f, int* out) {
  return Of(f)->real()->pMethods->xCheckReservedLock(Of(f)->real(), out);
}
int FileControl(sqlite3_file* f, int op, void* arg) { return Of(f)->real()->pMethods->xFileControl(Of(f)->real(), op, arg); }
int SectorSize(sqlite3_file* f) { return Of(f)->real()->pMethods->xSectorSize(Of(f)->real()); }
int DeviceCharacteristics(sqlite3_file* f) {
  return Of(f)->real()->pMethods->xDeviceCharacteristics(Of(f)->real());
}
int ShmMap(sqlite3_file* f, int page, int size, int extend, void volatile** out) {
  return Of(f)->real()->pMethods->xShmMap(Of(f)->real(), page, size, extend, out);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) {
  return Of(f)->real()->pMethods->xShmLock(Of(f)->real(), offset, n, flags);
}
void ShmBarrier(sqlite3_file* f) { Of(f)->real()->pMethods->xShmBarrier(Of(f)->real()); }
int ShmUnmap(sqlite3_file* f, int remove) { return Of(f)->real()->pMethods->xShmUnmap(Of(f)->real(), remove); }

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags, int* out_flags) {
  CountingFile* counting = Of(file);
  counting->base.pMethods = nullptr;
  const int rc = real_vfs->xOpen(real_vfs, name, counting->real(), flags, out_flags);
  // The real file's methods decide whether there is anything to close.
  if (counting->real()->pMethods != nullptr) counting->base.pMethods = &counting_methods;
  return rc;
}

int Delete(sqlite3_vfs*, const char* name, int sync_dir) { return real_vfs->xDelete(real_vfs, name, sync_dir); }
int Access(sqlite3_vfs*, const char* name, int flags, int* out) { return real_vfs->xAccess(real_vfs, name, flags, out); }
int FullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
  return real_vfs->xFullPathname(real_vfs, name, size, out);
}
void* DlOpen(sqlite3_vfs*, const char* name) { return real_vfs->xDlOpen(real_vfs, name); }
void DlError(sqlite3_vfs*, int size, char* out) { real_vfs->xDlError(real_vfs, size, out); }
void (*DlSym(sqlite3_vfs*, void* handle, const char* symbol))(void) { return real_vfs->xDlSym(real_vfs, handle, symbol); }
void DlClose(sqlite3_vfs*, void* handle) { real_vfs->xDlClose(real_vfs, handle); }
int Randomness(sqlite3_vfs*, int size, char* out) { return real_vfs->xRandomness(real_vfs, size, out); }
int Sleep(sqlite3_vfs*, int microseconds) { return real_vfs->xSleep(real_vfs, microseconds); }
int CurrentTime(sqlite3_vfs*, double* out) { return real_vfs->xCurrentTime(real_vfs, out); }
int GetLastError(sqlite3_vfs*, int size, char* out) { return real_vfs->xGetLastError(real_vfs, size, out); }
int CurrentTimeInt64(sqlite3_vfs*, sqlite3_int64* out) { return real_vfs->xCurrentTimeInt64(real_vfs, out); }

}  // namespace

void InstallSqliteIoCounter() {
  if (real_vfs != nullptr) return;
  real_vfs = sqlite3_vfs_find(nullptr);
  counting_methods = sqlite3_io_methods{2,        Close,         Read,         Write,       Truncate,  Sync,
                                        FileSize, Lock,          Unlock,       CheckReservedLock,
                                        FileControl, SectorSize, DeviceCharacteristics,
                                        ShmMap,   ShmLock,       ShmBarrier,   ShmUnmap,    nullptr,   nullptr};
  std::memset(&counting_vfs, 0, sizeof counting_vfs);
  counting_vfs.iVersion = 2;
  counting_vfs.szOsFile = static_cast<int>(sizeof(CountingFile)) + real_vfs->szOsFile;
  counting_vfs.mxPathname = real_vfs->mxPathname;
  counting_vfs.zName = "hostlore-io-counter";
  counting_vfs.xOpen = Open;
  counting_vfs.xDelete = Delete;
  counting_vfs.xAccess = Access;
  counting_vfs.xFullPathname = FullPathname;
  counting_vfs.xDlOpen = DlOpen;
  counting_vfs.xDlError = DlError;
  counting_vfs.xDlSym = DlSym;
  counting_vfs.xDlClose = DlClose;
  counting_vfs.xRandomness = Randomness;
  counting_vfs.xSleep = Sleep;
  counting_vfs.xCurrentTime = CurrentTime;
  counting_vfs.xGetLastError = GetLastError;
  counting_vfs.xCurrentTimeInt64 = CurrentTimeInt64;
  sqlite3_vfs_register(&counting_vfs, 1);
}

SqliteIo SqliteIoSoFar() { return {syncs.load(), writes.load()}; }

}  // namespace hostlore::bench
