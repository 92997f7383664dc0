// The winreg pipe of one target, with its open hive handles and a small
// cache of open keys. The pipe saves round trips in ways that read exactly
// what the caller reads, in the caller's order, only sooner:
// - keys opened from a hive stay open a while (their closes ride along
//   with a later exchange), so the same key opened again costs nothing;
// - opening a key that was listed as a subkey of its parent also opens the
//   next few subkeys of that listing (callers walk listings in order);
// - the first value read of a key fetches every value name read before
//   from keys of the same parent, for this key and the keys opened along
//   with it, in one exchange (the software inventory reads the same names
//   from every program's key).
// - with a pool of extra pipes (smb_registry_pool.h), a listing longer
//   than one batch is listed ahead on the pool, batches side by side, and
//   a walk of a listing whose value names are known (the second key of the
//   walk on) queues the rest of the listing on the pool, which reads it in
//   parallel;
// - with the snapshot on (smb_registry_snapshot.h), the walk's keys are
//   read from a saved copy of the listed key instead; a snapshot that fails
//   leaves the walk to the pipes.
// "Keys of the same parent" above means keys in the same place of a walk:
// the subkeys of a listed key, or one path below each of them (the
// installer data's "<product>\InstallProperties").
// A value fetched ahead answers once; read again, it is asked anew.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/network/rpc/winreg_client.h"
#include "platform/network/smb/smb_registry_pool.h"
#include "platform/network/smb/smb_registry_snapshot.h"

namespace hostlore {

// A key opened from a hive, kept while cached.
struct OpenedKey {
  Hive hive;
  std::string path;  // lower case
  uint32_t access = 0;
  // None while the key was only read elsewhere (another pipe, a
  // snapshot): opened on this pipe when a call needs it.
  std::optional<rpc::ContextHandle> handle;
  std::string group;  // keys of the same place of a walk share it
  bool prefetched = false;
  bool complete = false;  // `values` holds every value of the key
  std::map<std::string, Result<RegistryValue>> values;  // fetched ahead, by lower-case name
};

class RegistryPipe {
 public:
  // Makes the extra pipes of parallel walks when the first walk comes;
  // null: this pipe reads alone.
  using PoolMaker = std::function<std::unique_ptr<RegistryPool>()>;

  // `snapshot`: takes snapshots of walked keys (null: none).
  explicit RegistryPipe(std::unique_ptr<rpc::RpcChannel> channel, PoolMaker make_pool = nullptr,
                        SnapshotMaker snapshot = nullptr)
      : client(std::move(channel)), make_pool_(std::move(make_pool)),
        snapshot_(std::move(snapshot)) {}
  ~RegistryPipe();
  RegistryPipe(const RegistryPipe&) = delete;
  RegistryPipe& operator=(const RegistryPipe&) = delete;

  Result<rpc::ContextHandle> Hive(hostlore::Hive hive);
  // `path` below the root of `hive`.
  Result<std::shared_ptr<OpenedKey>> Open(hostlore::Hive hive, std::string_view path,
                                          uint32_t access);
  Result<RegistryValue> Query(OpenedKey& key, std::string_view name);
  // The key's handle on this pipe, opening it here if it was read elsewhere.
  Result<rpc::ContextHandle> Handle(OpenedKey& key);
  // `count` subkey names of `key` (open here as `handle`) from index
  // `first` on, as EnumKey gives them: listed ahead on the pool when it
  // holds them, else here. A listing that goes on past a full batch is
  // listed ahead on the pool, which starts for it when the walk would be
  // long (see WorthExtraPipes).
  std::vector<Result<std::string>> ListSubkeys(OpenedKey& key, rpc::ContextHandle handle,
                                               uint32_t first, uint32_t count);
  // Subkey names of `key` listed from index `first` on, as they came.
  void NoteSubkeys(const OpenedKey& key, uint32_t first,
                   const std::vector<Result<std::string>>& names);

  winreg::WinregClient client;

 private:
  using ParentKey = std::pair<hostlore::Hive, std::string>;  // hive, lower-case path

  // Where a key stands in a walk: the listed key above it, its place in
  // that listing, and the path below the listed subkey.
  struct WalkPlace {
    std::string listed;  // lower case
    size_t index = 0;
    std::string below;  // lower case, empty for the listed subkey itself
  };

  std::shared_ptr<OpenedKey> Cached(hostlore::Hive hive, const std::string& lower,
                                    uint32_t access);
  // The nearest listed key above `lower` whose listing holds the next
  // name of the path; nullopt when there is none.
  std::optional<WalkPlace> PlaceOf(hostlore::Hive hive, const std::string& lower) const;
  // The group of keys read alike that `lower` belongs to.
  std::string GroupOf(hostlore::Hive hive, const std::string& lower) const;
  // The keys of the walk after `place` (from `place` itself when
  // `inclusive`), as full paths in the caller's spelling of `path`; at most
  // `count`, none cached or queued.
  std::vector<std::string> WalkFrom(hostlore::Hive hive, std::string_view path,
                                    const WalkPlace& place, uint32_t access, bool inclusive,
                                    size_t count);
  // A key read ahead elsewhere, now cached here; failure: its open's.
  Result<std::shared_ptr<OpenedKey>> Adopt(hostlore::Hive hive, const std::string& lower,
                                           uint32_t access, KeyRead read);
  // Reads the rest of the walk from `path` ahead, from a snapshot or on
  // the pool, once the walk's value names are known.
  void ReadWalkAhead(hostlore::Hive hive, std::string_view path, const std::string& lower,
                     uint32_t access);
  // The walk's keys from a snapshot of its listed key; false when there is
  // none to be had.
  bool ReadFromSnapshot(hostlore::Hive hive, std::string_view path, const WalkPlace& place,
                        uint32_t access);
  // The time of one round trip on this pipe, measured once.
  std::chrono::steady_clock::duration RoundTrip(hostlore::Hive hive);
  // Closes the least recently used keys beyond the cache size that no
  // caller holds.
  void Trim();

  std::map<hostlore::Hive, rpc::ContextHandle> hives_;
  std::deque<std::shared_ptr<OpenedKey>> keys_;  // most recently used first
  // Value names read from keys of one group, in the order first read.
  std::map<ParentKey, std::vector<winreg::WinregClient::WantedValue>> names_read_;
  PoolMaker make_pool_;
  std::unique_ptr<RegistryPool> pool_;
  std::optional<std::chrono::steady_clock::duration> round_trip_;
  SnapshotMaker snapshot_;
  std::map<KeyId, KeyRead> snapped_;  // read from a snapshot, not yet opened
  // Subkey names of a parent, by index, as listed.
  std::map<ParentKey, std::vector<std::string>> listings_;
};

}  // namespace hostlore
