// The registry seam over winreg. One pipe per target and one handle per hive
// stay open for the run. Keys opened from a hive stay open too, a few at a
// time, and are closed when they drop out of that small cache (the close
// rides along with the next exchange): the same key opened again for the
// next value costs nothing. What a caller sees is unchanged: the same keys
// answer with the same values and the same failures.
//
// Round trips are saved in two more ways, both reading exactly what the
// caller would read next: the first value read of a key fetches, in one
// exchange, every value name that was read before from keys of the same
// parent (the software inventory reads the same names from every program's
// key), and subkeys are enumerated several indexes per exchange.
#include <algorithm>
#include <deque>
#include <map>
#include <optional>
#include <utility>

#include "platform/network/smb_backends.h"
#include "platform/network/winreg_client.h"

namespace hostlore {
namespace {

// MAXIMUM_ALLOWED, as RegConnectRegistry asks for a hive.
constexpr uint32_t kMaximumAllowed = 0x02000000;
// Keys kept open besides the ones callers hold.
constexpr size_t kCachedKeys = 4;
// Subkey indexes asked for per exchange.
constexpr uint32_t kEnumBatch = 16;

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

// A key opened from a hive, kept open while cached.
struct OpenedKey {
  Hive hive;
  std::string path;  // lower case
  uint32_t access;
  rpc::ContextHandle handle;
  bool prefetched = false;
  std::map<std::string, Result<RegistryValue>> values;  // lower-case name
};

// The winreg pipe of one target with its open hive handles and keys.
class RegistryPipe {
 public:
  explicit RegistryPipe(std::unique_ptr<rpc::RpcChannel> channel) : client(std::move(channel)) {}

  Result<rpc::ContextHandle> Hive(hostlore::Hive hive) {
    if (auto found = hives_.find(hive); found != hives_.end()) return found->second;
    Result<rpc::ContextHandle> opened = client.OpenHive(hive, kMaximumAllowed);
    if (opened.ok()) hives_.emplace(hive, opened.value());
    return opened;
  }

  Result<std::shared_ptr<OpenedKey>> Open(hostlore::Hive hive, std::string_view path,
                                          uint32_t access) {
    const std::string lower = Lower(path);
    for (auto it = keys_.begin(); it != keys_.end(); ++it) {
      if ((*it)->hive == hive && (*it)->path == lower && (*it)->access == access) {
        std::shared_ptr<OpenedKey> key = *it;
        keys_.erase(it);
        keys_.push_front(key);
        return key;
      }
    }
    Result<rpc::ContextHandle> root = Hive(hive);
    if (!root.ok()) return root.status();
    Result<rpc::ContextHandle> handle = client.OpenKey(root.value(), path, access);
    if (!handle.ok()) return handle.status();
    auto key = std::make_shared<OpenedKey>(OpenedKey{hive, lower, access, handle.value()});
    keys_.push_front(key);
    Trim();
    return key;
  }

  Result<RegistryValue> Query(OpenedKey& key, std::string_view name) {
    const std::string lower = Lower(name);
    std::vector<std::string>& learned = names_read_[{key.hive, ParentOf(key.path)}];
    const bool known = std::find(learned.begin(), learned.end(), lower) != learned.end();
    if (!known) learned.push_back(lower);
    if (!key.prefetched && known && learned.size() > 1) {
      key.prefetched = true;
      std::vector<Result<RegistryValue>> values = client.QueryValues(key.handle, learned);
      for (size_t i = 0; i < learned.size(); ++i) key.values.emplace(learned[i], values[i]);
    }
    key.prefetched = true;
    // A prefetched value answers once; reading it again asks the server.
    if (auto found = key.values.find(lower); found != key.values.end()) {
      Result<RegistryValue> value = std::move(found->second);
      key.values.erase(found);
      return value;
    }
    return client.QueryValue(key.handle, name);
  }

  ~RegistryPipe() {
    for (const auto& key : keys_) client.CloseLater(key->handle);
    for (const auto& [hive, handle] : hives_) client.CloseLater(handle);
    if (!client.channel().broken()) client.FlushCloses();
  }

  winreg::WinregClient client;

 private:
  // Closes the least recently used keys beyond the cache size that no
  // caller holds.
  void Trim() {
    for (auto it = keys_.end(); keys_.size() > kCachedKeys && it != keys_.begin();) {
      --it;
      if (it->use_count() == 1) {
        client.CloseLater((*it)->handle);
        it = keys_.erase(it);
      }
    }
  }

  std::map<hostlore::Hive, rpc::ContextHandle> hives_;
  std::deque<std::shared_ptr<OpenedKey>> keys_;
  std::map<std::pair<hostlore::Hive, std::string>, std::vector<std::string>> names_read_;
};

class SmbRegistryKey final : public RegistryKey {
 public:
  // A hive root (`key` null) or a key opened from it; `owned` handles (keys
  // opened below another key) are closed with the key.
  SmbRegistryKey(std::shared_ptr<RegistryPipe> pipe, Hive hive, std::shared_ptr<OpenedKey> key,
                 rpc::ContextHandle handle, bool owned)
      : pipe_(std::move(pipe)), hive_(hive), key_(std::move(key)), handle_(handle),
        owned_(owned) {}

  ~SmbRegistryKey() override {
    if (owned_ && !pipe_->client.channel().broken()) pipe_->client.CloseLater(handle_);
  }

  Result<std::unique_ptr<RegistryKey>> OpenKey(std::string_view subkey,
                                               uint32_t access) override {
    if (is_root()) {
      Result<std::shared_ptr<OpenedKey>> opened = pipe_->Open(hive_, subkey, access);
      if (!opened.ok()) return opened.status();
      const rpc::ContextHandle handle = opened.value()->handle;
      return std::unique_ptr<RegistryKey>(
          std::make_unique<SmbRegistryKey>(pipe_, hive_, std::move(opened).value(), handle, false));
    }
    Result<rpc::ContextHandle> opened = pipe_->client.OpenKey(handle_, subkey, access);
    if (!opened.ok()) return opened.status();
    return std::unique_ptr<RegistryKey>(
        std::make_unique<SmbRegistryKey>(pipe_, hive_, nullptr, opened.value(), true));
  }

  Result<RegistryValue> QueryValue(std::string_view name) override {
    if (key_) return pipe_->Query(*key_, name);
    return pipe_->client.QueryValue(handle_, name);
  }

  Result<std::string> EnumKey(uint32_t index) override {
    if (index < enumerated_first_ || index >= enumerated_first_ + enumerated_.size()) {
      enumerated_first_ = index;
      enumerated_ = pipe_->client.EnumKeys(handle_, index, kEnumBatch);
    }
    return enumerated_[index - enumerated_first_];
  }

 private:
  bool is_root() const { return key_ == nullptr && !owned_; }

  std::shared_ptr<RegistryPipe> pipe_;
  Hive hive_;
  std::shared_ptr<OpenedKey> key_;
  rpc::ContextHandle handle_;
  bool owned_;
  uint32_t enumerated_first_ = 0;
  std::vector<Result<std::string>> enumerated_;
};

class SmbRegistry final : public RemoteRegistry {
 public:
  explicit SmbRegistry(std::shared_ptr<SmbTargets> targets) : targets_(std::move(targets)) {}

  Result<std::unique_ptr<RegistryKey>> Connect(const std::string& host, Hive hive) override {
    Result<std::shared_ptr<RegistryPipe>> pipe = PipeFor(host);
    if (!pipe.ok()) return pipe.status();
    Result<rpc::ContextHandle> root = pipe.value()->Hive(hive);
    if (!root.ok()) return root.status();
    return std::unique_ptr<RegistryKey>(
        std::make_unique<SmbRegistryKey>(pipe.value(), hive, nullptr, root.value(), false));
  }

 private:
  Result<std::shared_ptr<RegistryPipe>> PipeFor(const std::string& host) {
    auto found = pipes_.find(host);
    // A pipe whose channel broke is opened anew; a session that went down
    // refuses that at once.
    if (found != pipes_.end() && !found->second->client.channel().broken()) return found->second;
    if (found != pipes_.end()) pipes_.erase(found);
    Result<std::unique_ptr<rpc::RpcChannel>> channel =
        OpenRpcChannel(*targets_, host, "winreg", winreg::InterfaceId());
    if (!channel.ok()) return channel.status();
    auto pipe = std::make_shared<RegistryPipe>(std::move(channel).value());
    pipes_.emplace(host, pipe);
    return pipe;
  }

  std::shared_ptr<SmbTargets> targets_;
  std::map<std::string, std::shared_ptr<RegistryPipe>> pipes_;
};

}  // namespace

std::unique_ptr<RemoteRegistry> NewSmbRegistry(std::shared_ptr<SmbTargets> targets) {
  return std::make_unique<SmbRegistry>(std::move(targets));
}

}  // namespace hostlore
