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
// A value fetched ahead answers once; read again, it is asked anew.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/network/rpc/winreg_client.h"

namespace hostlore {

// A key opened from a hive, kept open while cached.
struct OpenedKey {
  Hive hive;
  std::string path;  // lower case
  uint32_t access = 0;
  rpc::ContextHandle handle;
  bool prefetched = false;
  std::map<std::string, Result<RegistryValue>> values;  // fetched ahead, by lower-case name
};

class RegistryPipe {
 public:
  explicit RegistryPipe(std::unique_ptr<rpc::RpcChannel> channel) : client(std::move(channel)) {}
  ~RegistryPipe();
  RegistryPipe(const RegistryPipe&) = delete;
  RegistryPipe& operator=(const RegistryPipe&) = delete;

  Result<rpc::ContextHandle> Hive(hostlore::Hive hive);
  // `path` below the root of `hive`.
  Result<std::shared_ptr<OpenedKey>> Open(hostlore::Hive hive, std::string_view path,
                                          uint32_t access);
  Result<RegistryValue> Query(OpenedKey& key, std::string_view name);
  // Subkey names of `key` listed from index `first` on, as they came.
  void NoteSubkeys(const OpenedKey& key, uint32_t first,
                   const std::vector<Result<std::string>>& names);

  winreg::WinregClient client;

 private:
  using ParentKey = std::pair<hostlore::Hive, std::string>;  // hive, lower-case path

  std::shared_ptr<OpenedKey> Cached(hostlore::Hive hive, const std::string& lower,
                                    uint32_t access);
  // Subkeys listed after `lower` under its parent, as full paths that keep
  // the caller's spelling of the parent; at most `count`, none cached.
  std::vector<std::string> ListedAfter(hostlore::Hive hive, std::string_view path,
                                       const std::string& lower, uint32_t access, size_t count);
  // Closes the least recently used keys beyond the cache size that no
  // caller holds.
  void Trim();

  std::map<hostlore::Hive, rpc::ContextHandle> hives_;
  std::deque<std::shared_ptr<OpenedKey>> keys_;  // most recently used first
  // Value names read from keys of one parent, in the order first read.
  std::map<ParentKey, std::vector<winreg::WinregClient::WantedValue>> names_read_;
  // Subkey names of a parent, by index, as listed.
  std::map<ParentKey, std::vector<std::string>> listings_;
};

}  // namespace hostlore
