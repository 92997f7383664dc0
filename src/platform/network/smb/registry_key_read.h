// A registry key as read ahead of its caller (by another pipe, or from a
// snapshot), how the read-ahead names keys, and the frames in which the
// walk's worker processes take keys to read and give back what they read.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <optional>
#include <tuple>
#include <vector>

#include "platform/network/rpc/winreg_client.h"
#include "platform/registry/registry.h"
#include "platform/status.h"

namespace hostlore {

// One key as read ahead.
struct KeyRead {
  bool fetched = false;  // false: not read; read it yourself
  Status opened;         // the open's failure, if it failed
  // Every value of the key is in `values` (a snapshot); otherwise only
  // the names asked for are.
  bool complete = false;
  std::map<std::string, Result<RegistryValue>> values;  // by lower-case name
  // For a listing job: the subkey names from its first index on, as
  // EnumKey gives them.
  std::vector<Result<std::string>> subkeys;
};

// A key as the pools and caches know it: hive, lower-case path, access.
using KeyId = std::tuple<Hive, std::string, uint32_t>;

// Registry names compare without regard to case.
std::string LowerRegistryName(std::string_view name);

// Keys to read alike: opened with `access` below the root of `hive`, and
// queried for `names`.
struct KeyJob {
  Hive hive = Hive::kLocalMachine;
  uint32_t access = 0;
  std::vector<std::string> paths;
  std::vector<winreg::WinregClient::WantedValue> names;
  // With a count: a listing job instead, the subkeys of paths[0] from
  // index `first` on.
  uint32_t first = 0;
  uint32_t count = 0;
};

// How the pool names the listing of `key` from index `first` on, beside
// the keys it reads (a NUL never stands in a key's path).
KeyId ListingId(const KeyId& key, uint32_t first);

// The frames' payloads; decoding fails (nullopt) on bytes that do not
// form one whole payload.
std::string EncodeKeyJob(const KeyJob& job);
std::optional<KeyJob> DecodeKeyJob(std::string_view bytes);
std::string EncodeKeyReads(const std::vector<KeyRead>& reads);
std::optional<std::vector<KeyRead>> DecodeKeyReads(std::string_view bytes);
std::string EncodeStatus(const Status& status);
std::optional<Status> DecodeStatus(std::string_view bytes);

}  // namespace hostlore
