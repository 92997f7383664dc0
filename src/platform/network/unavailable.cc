#include "platform/network/unavailable.h"

namespace hostlore {
namespace {

Status NotAvailable(const char* what) {
  return Status::Failure(win32::kRpcServerUnavailable,
                         std::string(what) + " over the network is not available in this build");
}

class UnavailableRegistry final : public RemoteRegistry {
 public:
  Result<std::unique_ptr<RegistryKey>> Connect(const std::string&, Hive) override {
    return NotAvailable("the remote registry");
  }
};

class UnavailableServiceManager final : public ServiceManager {
 public:
  Result<std::unique_ptr<ServiceControlManager>> Open(const std::string&) override {
    return NotAvailable("the service control manager");
  }
};

class UnavailableShareSpace final : public ShareSpace {
 public:
  Result<DiskSpace> FreeSpace(const std::string&, const std::string&) override {
    return NotAvailable("share space");
  }
};

class UnavailableWmi final : public Wmi {
 public:
  Result<std::unique_ptr<WmiConnection>> Connect(const std::string&) override {
    return NotAvailable("WMI");
  }
};

}  // namespace

std::unique_ptr<RemoteRegistry> NewUnavailableRegistry() {
  return std::make_unique<UnavailableRegistry>();
}
std::unique_ptr<ServiceManager> NewUnavailableServiceManager() {
  return std::make_unique<UnavailableServiceManager>();
}
std::unique_ptr<ShareSpace> NewUnavailableShareSpace() {
  return std::make_unique<UnavailableShareSpace>();
}
std::unique_ptr<Wmi> NewUnavailableWmi() { return std::make_unique<UnavailableWmi>(); }

}  // namespace hostlore
