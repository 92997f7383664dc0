// The registry seam over winreg: one pipe per target for the run (see
// smb_registry_pipe.h for how it saves round trips). What a caller sees is
// what single calls would give: the same keys answer with the same values
// and the same failures.
#include <map>
#include <utility>

#include "platform/network/smb/smb_backends.h"
#include "platform/network/smb/smb_registry_pipe.h"
#include "platform/network/rpc/winreg_client.h"

namespace hostlore {
namespace {

// Subkey indexes asked for per exchange.
constexpr uint32_t kEnumBatch = 16;

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
      return std::unique_ptr<RegistryKey>(std::make_unique<SmbRegistryKey>(
          pipe_, hive_, std::move(opened).value(), rpc::ContextHandle{}, false));
    }
    Result<rpc::ContextHandle> handle = Handle();
    if (!handle.ok()) return handle.status();
    Result<rpc::ContextHandle> opened = pipe_->client.OpenKey(handle.value(), subkey, access);
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
      Result<rpc::ContextHandle> handle = Handle();
      if (!handle.ok()) return handle.status();
      enumerated_first_ = index;
      enumerated_ = key_ ? pipe_->ListSubkeys(*key_, handle.value(), index, kEnumBatch)
                         : pipe_->client.EnumKeys(handle.value(), index, kEnumBatch);
    }
    return enumerated_[index - enumerated_first_];
  }

 private:
  bool is_root() const { return key_ == nullptr && !owned_; }
  // A key read ahead elsewhere is opened on the pipe when a call needs it.
  Result<rpc::ContextHandle> Handle() { return key_ ? pipe_->Handle(*key_) : handle_; }

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

  Status ConnectionLost(const std::string& host) override { return targets_->Lost(host); }

  Result<std::unique_ptr<RegistryKey>> Connect(const std::string& host, Hive hive) override {
    Result<std::shared_ptr<RegistryPipe>> pipe = PipeFor(host);
    if (!pipe.ok()) return pipe.status();
    Result<rpc::ContextHandle> root = pipe.value()->Hive(hive);
    if (!root.ok()) {
      // Windows refuses the hive itself to an account that is not in the
      // remote registry's access list (administrators, backup operators).
      if (root.status().number() == win32::kAccessDenied) {
        return Status::Failure(win32::kAccessDenied,
                               host + ": the registry refuses this account (" +
                                   root.status().description() +
                                   "): the account is not an administrator of the target");
      }
      return root.status();
    }
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
    auto pipe = std::make_shared<RegistryPipe>(std::move(channel).value(),
                                               RegistryPoolMaker(targets_, host),
                                               RegistrySnapshotMaker(targets_, host));
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
