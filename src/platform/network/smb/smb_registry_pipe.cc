#include "platform/network/smb/smb_registry_pipe.h"

#include <unistd.h>

#include <algorithm>

#include "platform/network/rpc/win32_failure.h"

namespace hostlore {
namespace {

// Keys opened in one exchange: the one asked for and the next listed ones.
constexpr size_t kOpenAhead = 16;
// Keys kept besides the ones callers hold.
constexpr size_t kCachedKeys = kOpenAhead + 4;
// KEY_READ, for the key a snapshot saves.
constexpr uint32_t kKeyRead = 0x20019;

std::string ParentOf(const std::string& path) {
  const size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

RegistryPipe::~RegistryPipe() {
  // The pool's threads end first: nothing reads ahead any more.
  pool_.reset();
  for (const auto& key : keys_) {
    if (key->handle) client.CloseLater(*key->handle);
  }
  for (const auto& [hive, handle] : hives_) client.CloseLater(handle);
  if (!client.channel().broken()) client.FlushCloses();
}

Result<rpc::ContextHandle> RegistryPipe::Hive(hostlore::Hive hive) {
  if (auto found = hives_.find(hive); found != hives_.end()) return found->second;
  Result<rpc::ContextHandle> opened = client.OpenHive(hive, kMaximumAllowed);
  if (opened.ok()) hives_.emplace(hive, opened.value());
  return opened;
}

std::shared_ptr<OpenedKey> RegistryPipe::Cached(hostlore::Hive hive, const std::string& lower,
                                                uint32_t access) {
  for (const auto& key : keys_) {
    if (key->hive == hive && key->path == lower && key->access == access) return key;
  }
  return nullptr;
}

std::optional<RegistryPipe::WalkPlace> RegistryPipe::PlaceOf(hostlore::Hive hive,
                                                            const std::string& lower) const {
  // "listed\name", or "listed\name\below" with one name below.
  const size_t last = lower.rfind('\\');
  for (size_t end : {lower.size(), last}) {
    if (end == std::string::npos || end == 0) break;
    const size_t slash = lower.rfind('\\', end - 1);
    if (slash == std::string::npos) break;
    auto listing = listings_.find({hive, lower.substr(0, slash)});
    if (listing == listings_.end()) continue;
    const std::string name = lower.substr(slash + 1, end - slash - 1);
    const std::vector<std::string>& names = listing->second;
    for (size_t i = 0; i < names.size(); ++i) {
      if (LowerRegistryName(names[i]) == name) {
        return WalkPlace{lower.substr(0, slash), i,
                         end < lower.size() ? lower.substr(end + 1) : std::string()};
      }
    }
  }
  return std::nullopt;
}

std::string RegistryPipe::GroupOf(hostlore::Hive hive, const std::string& lower) const {
  if (std::optional<WalkPlace> place = PlaceOf(hive, lower)) {
    return place->listed + "\\*\\" + place->below;
  }
  return ParentOf(lower) + "\\*\\";
}

std::vector<std::string> RegistryPipe::WalkFrom(hostlore::Hive hive, std::string_view path,
                                                const WalkPlace& place, uint32_t access,
                                                bool inclusive, size_t count) {
  std::vector<std::string> keys;
  const std::vector<std::string>& names = listings_[{hive, place.listed}];
  // The caller's spelling of the listed key and of the path below.
  const std::string_view listed = path.substr(0, place.listed.size());
  const std::string_view below = path.substr(path.size() - place.below.size());
  for (size_t i = place.index + (inclusive ? 0 : 1); i < names.size() && keys.size() < count;
       ++i) {
    if (names[i].empty()) break;  // not listed (yet)
    std::string key = std::string(listed) + "\\" + names[i];
    if (!below.empty()) key += "\\" + std::string(below);
    const std::string lower = LowerRegistryName(key);
    if (Cached(hive, lower, access)) continue;
    if (pool_ && pool_->Queued({hive, lower, access})) continue;
    if (snapped_.count({hive, lower, access}) != 0) continue;
    keys.push_back(std::move(key));
  }
  return keys;
}

Result<std::shared_ptr<OpenedKey>> RegistryPipe::Adopt(hostlore::Hive hive,
                                                       const std::string& lower, uint32_t access,
                                                       KeyRead read) {
  if (!read.opened.ok()) return read.opened;
  auto key = std::make_shared<OpenedKey>(OpenedKey{hive, lower, access, std::nullopt,
                                                   GroupOf(hive, lower), true, read.complete,
                                                   std::move(read.values)});
  keys_.push_front(key);
  Trim();
  return key;
}

bool RegistryPipe::ReadFromSnapshot(hostlore::Hive hive, std::string_view path,
                                    const WalkPlace& place, uint32_t access) {
  Result<rpc::ContextHandle> root = Hive(hive);
  if (!root.ok()) return false;
  const std::string listed(path.substr(0, place.listed.size()));
  Result<rpc::ContextHandle> key = client.OpenKey(root.value(), listed, kKeyRead);
  if (!key.ok()) return false;
  Result<std::unique_ptr<HiveFile>> file = snapshot_(client, key.value());
  client.CloseLater(key.value());
  if (!file.ok()) {
    // Once is enough: the next walk goes to the pipes straight away.
    snapshot_ = nullptr;
    const std::string line = "hostlore: no registry snapshot of " + listed + " (" +
                             file.status().description() + "); walking it instead\n";
    [[maybe_unused]] const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
    return false;
  }
  const std::vector<std::string>& names = listings_[{hive, place.listed}];
  for (size_t i = place.index; i < names.size() && !names[i].empty(); ++i) {
    std::string below = names[i];
    if (!place.below.empty()) below += "\\" + std::string(path.substr(path.size() - place.below.size()));
    const std::string lower = LowerRegistryName(listed + "\\" + below);
    KeyRead read = file.value()->Read(below);
    if (std::shared_ptr<OpenedKey> cached = Cached(hive, lower, access)) {
      // Opened already, its values not yet read: they come from the file.
      if (!cached->prefetched && read.opened.ok()) {
        cached->values = std::move(read.values);
        cached->complete = cached->prefetched = true;
      }
      continue;
    }
    snapped_.insert_or_assign(KeyId{hive, lower, access}, std::move(read));
  }
  return true;
}

void RegistryPipe::ReadWalkAhead(hostlore::Hive hive, std::string_view path,
                                 const std::string& lower, uint32_t access) {
  if (!make_pool_ && !pool_ && !snapshot_) return;
  std::optional<WalkPlace> place = PlaceOf(hive, lower);
  if (!place) return;
  // The names an earlier key of the walk was read for; none yet: this is
  // the walk's first key, which tells them.
  auto names = names_read_.find({hive, GroupOf(hive, lower)});
  if (names == names_read_.end() || names->second.empty()) return;
  if (snapshot_ && ReadFromSnapshot(hive, path, *place, access)) return;
  if (!make_pool_ && !pool_) return;
  std::vector<std::string> keys = WalkFrom(hive, path, *place, access, true, SIZE_MAX);
  if (keys.size() < 2) return;
  if (!pool_) {
    if (!WalkPipesChosen() && !WorthExtraPipes(keys.size(), RoundTrip(hive))) return;
    pool_ = make_pool_();
    make_pool_ = nullptr;
    if (!pool_) return;
  }
  pool_->Fetch(hive, keys, access, names->second);
}

std::chrono::steady_clock::duration RegistryPipe::RoundTrip(hostlore::Hive hive) {
  if (!round_trip_) {
    // One listing of the hive's first subkey: a single request and reply.
    const auto start = std::chrono::steady_clock::now();
    if (Result<rpc::ContextHandle> root = Hive(hive); root.ok()) {
      (void)client.EnumKey(root.value(), 0);
    }
    round_trip_ = std::chrono::steady_clock::now() - start;
  }
  return *round_trip_;
}

Result<std::shared_ptr<OpenedKey>> RegistryPipe::Open(hostlore::Hive hive, std::string_view path,
                                                      uint32_t access) {
  const std::string lower = LowerRegistryName(path);
  if (std::shared_ptr<OpenedKey> key = Cached(hive, lower, access)) {
    keys_.erase(std::find(keys_.begin(), keys_.end(), key));
    keys_.push_front(key);
    return key;
  }
  const KeyId id{hive, lower, access};
  if (snapped_.count(id) == 0 && !(pool_ && pool_->Queued(id))) {
    ReadWalkAhead(hive, path, lower, access);
  }
  if (auto snapped = snapped_.find(id); snapped != snapped_.end()) {
    KeyRead read = std::move(snapped->second);
    snapped_.erase(snapped);
    return Adopt(hive, lower, access, std::move(read));
  }
  if (pool_) {
    std::optional<KeyRead> read = pool_->Take(id);
    if (read && read->fetched) return Adopt(hive, lower, access, std::move(read).value());
  }
  Result<rpc::ContextHandle> root = Hive(hive);
  if (!root.ok()) return root.status();
  std::vector<std::string> paths{std::string(path)};
  // With extra pipes at work, the siblings are theirs to read once the
  // walk's names are known; opened here, they would only delay that.
  std::optional<WalkPlace> place = pool_ && pool_->working() > 0 ? std::nullopt : PlaceOf(hive, lower);
  if (place) {
    for (std::string& sibling : WalkFrom(hive, path, *place, access, false, kOpenAhead - 1)) {
      paths.push_back(std::move(sibling));
    }
  }
  std::vector<Result<rpc::ContextHandle>> handles = client.OpenKeys(root.value(), paths, access);
  // Newest first: the key asked for, then the siblings in listing order.
  // A sibling that did not open is simply not cached; asked for, it is
  // opened (and fails) on its own.
  for (size_t i = paths.size(); i-- > 1;) {
    if (!handles[i].ok()) continue;
    const std::string sibling = LowerRegistryName(paths[i]);
    keys_.push_front(std::make_shared<OpenedKey>(OpenedKey{
        hive, sibling, access, handles[i].value(), GroupOf(hive, sibling), false, false, {}}));
  }
  if (!handles[0].ok()) {
    Trim();
    return handles[0].status();
  }
  auto key = std::make_shared<OpenedKey>(
      OpenedKey{hive, lower, access, handles[0].value(), GroupOf(hive, lower), false, false, {}});
  keys_.push_front(key);
  Trim();
  return key;
}

Result<rpc::ContextHandle> RegistryPipe::Handle(OpenedKey& key) {
  if (key.handle) return *key.handle;
  Result<rpc::ContextHandle> root = Hive(key.hive);
  if (!root.ok()) return root.status();
  Result<rpc::ContextHandle> opened = client.OpenKey(root.value(), key.path, key.access);
  if (opened.ok()) key.handle = opened.value();
  return opened;
}

Result<RegistryValue> RegistryPipe::Query(OpenedKey& key, std::string_view name) {
  const std::string lower = LowerRegistryName(name);
  std::vector<winreg::WinregClient::WantedValue>& learned = names_read_[{key.hive, key.group}];
  auto known = std::find_if(learned.begin(), learned.end(),
                            [&](const auto& wanted) { return wanted.name == lower; });
  const bool new_name = known == learned.end();
  if (new_name) {
    learned.push_back({lower, true});
    known = learned.end() - 1;
  } else if (!key.prefetched && learned.size() > 1) {
    // The walk's names are known: the pool, if any, reads the rest of it
    // while this pipe reads this key and the keys of the same group
    // opened along with it.
    ReadWalkAhead(key.hive, key.path, key.path, key.access);
  }
  if (!key.prefetched && !new_name && learned.size() > 1 && key.handle) {
    std::vector<OpenedKey*> group{&key};
    for (const auto& other : keys_) {
      if (other.get() != &key && !other->prefetched && other->handle &&
          other->group == key.group && group.size() < kOpenAhead) {
        group.push_back(other.get());
      }
    }
    std::vector<rpc::ContextHandle> handles;
    for (const OpenedKey* member : group) handles.push_back(*member->handle);
    std::vector<std::vector<Result<RegistryValue>>> values = client.QueryValues(handles, learned);
    for (size_t k = 0; k < group.size(); ++k) {
      group[k]->prefetched = true;
      for (size_t i = 0; i < learned.size(); ++i) {
        group[k]->values.insert_or_assign(learned[i].name, std::move(values[k][i]));
      }
    }
  }
  key.prefetched = true;
  Result<RegistryValue> value = Status::Failure(0, "");
  if (auto found = key.values.find(lower); found != key.values.end()) {
    value = std::move(found->second);
    key.values.erase(found);
  } else if (key.complete) {
    value = Win32Failure(win32::kFileNotFound, "registry value");
  } else if (Result<rpc::ContextHandle> handle = Handle(key); handle.ok()) {
    value = client.QueryValue(handle.value(), name);
  } else {
    value = handle.status();
  }
  // Whether the next key of the same group is likely to have it.
  known->expected = value.ok();
  return value;
}

std::vector<Result<std::string>> RegistryPipe::ListSubkeys(OpenedKey& key, rpc::ContextHandle handle,
                                                            uint32_t first, uint32_t count) {
  const KeyId id{key.hive, key.path, key.access};
  std::vector<Result<std::string>> names;
  if (pool_) {
    std::optional<KeyRead> read = pool_->Take(ListingId(id, first));
    if (read && read->fetched && read->subkeys.size() == count) names = std::move(read->subkeys);
  }
  if (names.empty()) names = client.EnumKeys(handle, first, count);
  NoteSubkeys(key, first, names);

  // A batch that came back short or with a failure ends the listing: what
  // is queued after it is not asked for.
  if (names.size() != count ||
      std::any_of(names.begin(), names.end(), [](const Result<std::string>& name) { return !name.ok(); })) {
    if (pool_) pool_->DropListings(id, first + count);
    return names;
  }
  if (!pool_) {
    // A listing that fills its first batch counts as two batches at least.
    if (!make_pool_ || (!WalkPipesChosen() && !WorthExtraPipes(2 * count, RoundTrip(key.hive)))) return names;
    pool_ = make_pool_();
    make_pool_ = nullptr;
    if (!pool_) return names;
  }
  // A batch a pipe ahead of the caller; those queued already stay.
  const size_t ahead = pool_->pipes();
  for (size_t batch = 1; batch <= ahead; ++batch) {
    pool_->List(id, key.path, first + static_cast<uint32_t>(batch) * count, count);
  }
  return names;
}

void RegistryPipe::NoteSubkeys(const OpenedKey& key, uint32_t first,
                               const std::vector<Result<std::string>>& names) {
  std::vector<std::string>& listing = listings_[{key.hive, key.path}];
  for (size_t i = 0; i < names.size() && names[i].ok(); ++i) {
    if (listing.size() <= first + i) listing.resize(first + i + 1);
    listing[first + i] = names[i].value();
  }
}

void RegistryPipe::Trim() {
  for (auto it = keys_.end(); keys_.size() > kCachedKeys && it != keys_.begin();) {
    --it;
    if (it->use_count() == 1) {
      if ((*it)->handle) client.CloseLater(*(*it)->handle);
      it = keys_.erase(it);
    }
  }
}

}  // namespace hostlore
