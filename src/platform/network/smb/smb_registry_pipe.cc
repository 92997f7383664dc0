#include "platform/network/smb/smb_registry_pipe.h"

#include <algorithm>

namespace hostlore {
namespace {

// MAXIMUM_ALLOWED, as RegConnectRegistry asks for a hive.
constexpr uint32_t kMaximumAllowed = 0x02000000;
// Keys opened in one exchange: the one asked for and the next listed ones.
constexpr size_t kOpenAhead = 16;
// Keys kept open besides the ones callers hold.
constexpr size_t kCachedKeys = kOpenAhead + 4;

std::string Lower(std::string_view text) {
  std::string lower(text);
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return lower;
}

std::string ParentOf(const std::string& path) {
  const size_t slash = path.rfind('\\');
  return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

}  // namespace

RegistryPipe::~RegistryPipe() {
  for (const auto& key : keys_) client.CloseLater(key->handle);
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

std::vector<std::string> RegistryPipe::ListedAfter(hostlore::Hive hive, std::string_view path,
                                                   const std::string& lower, uint32_t access,
                                                   size_t count) {
  std::vector<std::string> after;
  const std::string parent = ParentOf(lower);
  auto listing = listings_.find({hive, parent});
  if (parent.empty() || listing == listings_.end()) return after;
  const std::string leaf = lower.substr(parent.size() + 1);
  const std::vector<std::string>& names = listing->second;
  auto it = std::find_if(names.begin(), names.end(),
                         [&](const std::string& name) { return Lower(name) == leaf; });
  if (it == names.end()) return after;
  for (++it; it != names.end() && after.size() < count; ++it) {
    if (it->empty()) break;  // not listed (yet)
    std::string sibling = std::string(path.substr(0, parent.size())) + "\\" + *it;
    if (!Cached(hive, Lower(sibling), access)) after.push_back(std::move(sibling));
  }
  return after;
}

Result<std::shared_ptr<OpenedKey>> RegistryPipe::Open(hostlore::Hive hive, std::string_view path,
                                                      uint32_t access) {
  const std::string lower = Lower(path);
  if (std::shared_ptr<OpenedKey> key = Cached(hive, lower, access)) {
    keys_.erase(std::find(keys_.begin(), keys_.end(), key));
    keys_.push_front(key);
    return key;
  }
  Result<rpc::ContextHandle> root = Hive(hive);
  if (!root.ok()) return root.status();
  std::vector<std::string> paths{std::string(path)};
  for (std::string& sibling : ListedAfter(hive, path, lower, access, kOpenAhead - 1)) {
    paths.push_back(std::move(sibling));
  }
  std::vector<Result<rpc::ContextHandle>> handles = client.OpenKeys(root.value(), paths, access);
  // Newest first: the key asked for, then the siblings in listing order.
  // A sibling that did not open is simply not cached; asked for, it is
  // opened (and fails) on its own.
  for (size_t i = paths.size(); i-- > 1;) {
    if (!handles[i].ok()) continue;
    keys_.push_front(std::make_shared<OpenedKey>(
        OpenedKey{hive, Lower(paths[i]), access, handles[i].value(), false, {}}));
  }
  if (!handles[0].ok()) {
    Trim();
    return handles[0].status();
  }
  auto key =
      std::make_shared<OpenedKey>(OpenedKey{hive, lower, access, handles[0].value(), false, {}});
  keys_.push_front(key);
  Trim();
  return key;
}

Result<RegistryValue> RegistryPipe::Query(OpenedKey& key, std::string_view name) {
  const std::string lower = Lower(name);
  const std::string parent = ParentOf(key.path);
  std::vector<winreg::WinregClient::WantedValue>& learned = names_read_[{key.hive, parent}];
  auto known = std::find_if(learned.begin(), learned.end(),
                            [&](const auto& wanted) { return wanted.name == lower; });
  if (known == learned.end()) {
    learned.push_back({lower, true});
    known = learned.end() - 1;
  } else if (!key.prefetched && learned.size() > 1) {
    // This key and the keys of the same parent opened along with it.
    std::vector<OpenedKey*> group{&key};
    for (const auto& other : keys_) {
      if (other.get() != &key && !other->prefetched && other->hive == key.hive &&
          ParentOf(other->path) == parent && group.size() < kOpenAhead) {
        group.push_back(other.get());
      }
    }
    std::vector<rpc::ContextHandle> handles;
    for (const OpenedKey* member : group) handles.push_back(member->handle);
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
  } else {
    value = client.QueryValue(key.handle, name);
  }
  // Whether the next key of the same parent is likely to have it.
  known->expected = value.ok();
  return value;
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
      client.CloseLater((*it)->handle);
      it = keys_.erase(it);
    }
  }
}

}  // namespace hostlore
