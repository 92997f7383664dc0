// The registry seam over winreg. One pipe per target and one handle per hive
// stay open for the run; keys are opened and closed as the callers ask.
#include <map>
#include <utility>

#include "platform/network/smb_backends.h"
#include "platform/network/winreg_client.h"

namespace hostlore {
namespace {

// MAXIMUM_ALLOWED, as RegConnectRegistry asks for a hive.
constexpr uint32_t kMaximumAllowed = 0x02000000;

// The winreg pipe of one target with its open hive handles.
struct RegistryPipe {
  explicit RegistryPipe(std::unique_ptr<rpc::RpcChannel> channel) : client(std::move(channel)) {}
  winreg::WinregClient client;
  std::map<Hive, rpc::ContextHandle> hives;
};

class SmbRegistryKey final : public RegistryKey {
 public:
  // `owned`: the handle is closed with the key (a hive handle is not).
  SmbRegistryKey(std::shared_ptr<RegistryPipe> pipe, rpc::ContextHandle handle, bool owned)
      : pipe_(std::move(pipe)), handle_(handle), owned_(owned) {}

  ~SmbRegistryKey() override {
    if (owned_ && !pipe_->client.channel().broken()) pipe_->client.CloseKey(handle_);
  }

  Result<std::unique_ptr<RegistryKey>> OpenKey(std::string_view subkey,
                                               uint32_t access) override {
    Result<rpc::ContextHandle> opened = pipe_->client.OpenKey(handle_, subkey, access);
    if (!opened.ok()) return opened.status();
    return std::unique_ptr<RegistryKey>(
        std::make_unique<SmbRegistryKey>(pipe_, opened.value(), true));
  }

  Result<RegistryValue> QueryValue(std::string_view name) override {
    return pipe_->client.QueryValue(handle_, name);
  }

  Result<std::string> EnumKey(uint32_t index) override {
    return pipe_->client.EnumKey(handle_, index);
  }

 private:
  std::shared_ptr<RegistryPipe> pipe_;
  rpc::ContextHandle handle_;
  bool owned_;
};

class SmbRegistry final : public RemoteRegistry {
 public:
  explicit SmbRegistry(std::shared_ptr<SmbTargets> targets) : targets_(std::move(targets)) {}

  Result<std::unique_ptr<RegistryKey>> Connect(const std::string& host, Hive hive) override {
    Result<std::shared_ptr<RegistryPipe>> pipe = PipeFor(host);
    if (!pipe.ok()) return pipe.status();
    auto& hives = pipe.value()->hives;
    auto found = hives.find(hive);
    if (found == hives.end()) {
      Result<rpc::ContextHandle> opened = pipe.value()->client.OpenHive(hive, kMaximumAllowed);
      if (!opened.ok()) return opened.status();
      found = hives.emplace(hive, opened.value()).first;
    }
    return std::unique_ptr<RegistryKey>(
        std::make_unique<SmbRegistryKey>(pipe.value(), found->second, false));
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
