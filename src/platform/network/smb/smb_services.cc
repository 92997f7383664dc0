// The service seam over svcctl. The pipe stays open for the run; the
// manager handle lives as long as the caller keeps it.
#include <algorithm>
#include <map>

#include "platform/network/smb/smb_backends.h"
#include "platform/network/rpc/svcctl_client.h"

namespace hostlore {
namespace {

class SmbServiceControlManager final : public ServiceControlManager {
 public:
  SmbServiceControlManager(std::shared_ptr<svcctl::SvcctlClient> client,
                           rpc::ContextHandle handle)
      : client_(std::move(client)), handle_(handle) {}

  ~SmbServiceControlManager() override { client_->Close(handle_); }

  ServiceSizeQuery QuerySize() override {
    Result<svcctl::EnumServicesReply> reply = client_->EnumServices(handle_, 0);
    if (!reply.ok()) return {static_cast<uint32_t>(reply.status().number()), 0};
    return {reply->status, reply->bytes_needed};
  }

  Result<std::vector<std::string>> ListDisplayNames(uint32_t buffer_bytes) override {
    Result<svcctl::EnumServicesReply> reply =
        client_->EnumServices(handle_, std::min(buffer_bytes, svcctl::kMaxBuffer));
    if (!reply.ok()) return reply.status();
    if (reply->status != 0) {
      return Status::Failure(reply->status, "EnumServicesStatusW: error " +
                                                std::to_string(reply->status));
    }
    return std::move(reply->display_names);
  }

 private:
  std::shared_ptr<svcctl::SvcctlClient> client_;
  rpc::ContextHandle handle_;
};

class SmbServiceManager final : public ServiceManager {
 public:
  explicit SmbServiceManager(std::shared_ptr<SmbTargets> targets)
      : targets_(std::move(targets)) {}

  Result<std::unique_ptr<ServiceControlManager>> Open(const std::string& host) override {
    auto found = clients_.find(host);
    if (found == clients_.end()) {
      Result<std::unique_ptr<rpc::RpcChannel>> channel =
          OpenRpcChannel(*targets_, host, "svcctl", svcctl::InterfaceId());
      if (!channel.ok()) return channel.status();
      found = clients_
                  .emplace(host, std::make_shared<svcctl::SvcctlClient>(std::move(channel).value()))
                  .first;
    }
    Result<rpc::ContextHandle> handle = found->second->OpenManager(svcctl::kEnumerateService);
    if (!handle.ok()) return handle.status();
    return std::unique_ptr<ServiceControlManager>(
        std::make_unique<SmbServiceControlManager>(found->second, handle.value()));
  }

 private:
  std::shared_ptr<SmbTargets> targets_;
  std::map<std::string, std::shared_ptr<svcctl::SvcctlClient>> clients_;
};

}  // namespace

std::unique_ptr<ServiceManager> NewSmbServiceManager(std::shared_ptr<SmbTargets> targets) {
  return std::make_unique<SmbServiceManager>(std::move(targets));
}

}  // namespace hostlore
