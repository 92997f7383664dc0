#include "platform/network/rpc/svcctl_service_manager.h"

#include <algorithm>
#include <map>

#include "platform/network/rpc/svcctl_client.h"
#include "platform/network/rpc/svcctl_service_messages.h"

namespace hostlore::svcctl {
namespace {

class SvcctlServiceControlManager final : public ServiceControlManager {
 public:
  SvcctlServiceControlManager(std::shared_ptr<SvcctlClient> client, rpc::ContextHandle handle)
      : client_(std::move(client)), handle_(handle) {}

  ~SvcctlServiceControlManager() override { client_->Close(handle_); }

  ServiceSizeQuery QuerySize() override {
    Result<EnumServicesReply> reply = client_->EnumServices(handle_, 0);
    if (!reply.ok()) return {static_cast<uint32_t>(reply.status().number()), 0};
    return {reply->status, reply->bytes_needed};
  }

  Result<std::vector<std::string>> ListDisplayNames(uint32_t buffer_bytes) override {
    Result<EnumServicesReply> reply =
        client_->EnumServices(handle_, std::min(buffer_bytes, kMaxBuffer));
    if (!reply.ok()) return reply.status();
    if (reply->status != 0) {
      return Status::Failure(reply->status,
                             "EnumServicesStatusW: error " + std::to_string(reply->status));
    }
    return std::move(reply->display_names);
  }

 private:
  std::shared_ptr<SvcctlClient> client_;
  rpc::ContextHandle handle_;
};

// An open service, with the manager handle it was opened through; both are
// closed with it.
class SvcctlService final : public Service {
 public:
  SvcctlService(std::shared_ptr<SvcctlClient> client, rpc::ContextHandle manager,
                rpc::ContextHandle service)
      : client_(std::move(client)), manager_(manager), service_(service) {}
  ~SvcctlService() override {
    client_->Close(service_);
    client_->Close(manager_);
  }

  Result<uint32_t> QueryState() override { return client_->QueryState(service_); }
  Result<uint32_t> QueryStartType() override { return client_->QueryStartType(service_); }
  Status ChangeStartType(uint32_t start_type) override {
    return client_->ChangeStartType(service_, start_type);
  }
  Status Start() override { return client_->Start(service_); }
  Status Stop() override { return client_->Stop(service_); }

 private:
  std::shared_ptr<SvcctlClient> client_;
  rpc::ContextHandle manager_;
  rpc::ContextHandle service_;
};

class SvcctlServiceManager final : public ServiceManager {
 public:
  SvcctlServiceManager(ChannelOpener open, std::function<ChannelOpener()> another)
      : open_(std::move(open)), another_(std::move(another)) {}

  Result<std::unique_ptr<ServiceControlManager>> Open(const std::string& host) override {
    Result<std::shared_ptr<SvcctlClient>> client = ClientFor(host);
    if (!client.ok()) return client.status();
    Result<rpc::ContextHandle> handle = client.value()->OpenManager(kEnumerateService);
    if (!handle.ok()) return handle.status();
    return std::unique_ptr<ServiceControlManager>(
        std::make_unique<SvcctlServiceControlManager>(client.value(), handle.value()));
  }

  Result<std::unique_ptr<Service>> OpenService(const std::string& host, const std::string& name,
                                               uint32_t access) override {
    Result<std::shared_ptr<SvcctlClient>> client = ClientFor(host);
    if (!client.ok()) return client.status();
    Result<rpc::ContextHandle> manager = client.value()->OpenManager(kManagerConnect);
    if (!manager.ok()) return manager.status();
    Result<rpc::ContextHandle> service = client.value()->OpenService(manager.value(), name, access);
    if (!service.ok()) {
      client.value()->Close(manager.value());
      return service.status();
    }
    return std::unique_ptr<Service>(
        std::make_unique<SvcctlService>(client.value(), manager.value(), service.value()));
  }

  std::unique_ptr<ServiceManager> Independent() override {
    return std::make_unique<SvcctlServiceManager>(another_(), another_);
  }

 private:
  Result<std::shared_ptr<SvcctlClient>> ClientFor(const std::string& host) {
    auto found = clients_.find(host);
    // A client whose channel broke is opened anew; a transport that went
    // down refuses that at once.
    if (found != clients_.end() && !found->second->broken()) return found->second;
    if (found != clients_.end()) clients_.erase(found);
    Result<std::unique_ptr<rpc::RpcChannel>> channel = open_(host);
    if (!channel.ok()) return channel.status();
    auto client = std::make_shared<SvcctlClient>(std::move(channel).value());
    clients_.emplace(host, client);
    return client;
  }

  ChannelOpener open_;
  std::function<ChannelOpener()> another_;
  std::map<std::string, std::shared_ptr<SvcctlClient>> clients_;
};

}  // namespace

std::unique_ptr<ServiceManager> NewSvcctlServiceManager(ChannelOpener open,
                                                        std::function<ChannelOpener()> another) {
  return std::make_unique<SvcctlServiceManager>(std::move(open), std::move(another));
}

}  // namespace hostlore::svcctl
