// The service control manager of lab computers.
#include <algorithm>
#include <limits>

#include "platform/lab/lab_failures.h"
#include "platform/lab/lab_seams.h"

namespace hostlore {
namespace {

// Size of one ENUM_SERVICE_STATUSA record of a 32-bit Windows; the strings
// that the records point to follow the records in the same buffer.
constexpr uint64_t kRecordBytes = 36;

// What a Windows listing of `names` needs: per service one record plus its
// display name in the ANSI code page with its terminating NUL. The lab counts
// the UTF-8 bytes of the name, so the count is exact for ASCII names and
// generous for others. (Windows also counts the service names; the lab has
// none, so its count is smaller but keeps the record-plus-strings shape.)
uint32_t BytesNeeded(const std::vector<std::string>& names) {
  uint64_t bytes = 0;
  for (const std::string& name : names) bytes += kRecordBytes + name.size() + 1;
  return static_cast<uint32_t>(std::min<uint64_t>(bytes, std::numeric_limits<uint32_t>::max()));
}

class LabServiceControlManager final : public ServiceControlManager {
 public:
  explicit LabServiceControlManager(std::shared_ptr<const LabComputer> computer)
      : computer_(std::move(computer)) {}

  ServiceSizeQuery QuerySize() override {
    SpendLatency(*computer_);
    const LabServices& services = *computer_->services;
    if (services.error != 0) return ServiceSizeQuery{services.error, 0};
    if (services.display_names.empty()) return ServiceSizeQuery{0, 0};
    return ServiceSizeQuery{static_cast<uint32_t>(win32::kMoreData),
                            BytesNeeded(services.display_names)};
  }

  // Empty display names are listed like any other: the caller decides what
  // to make of them.
  Result<std::vector<std::string>> ListDisplayNames(uint32_t buffer_bytes) override {
    SpendLatency(*computer_);
    const LabServices& services = *computer_->services;
    if (services.error != 0) return Win32Failure(services.error);
    if (buffer_bytes < BytesNeeded(services.display_names)) {
      return Win32Failure(win32::kMoreData);
    }
    return services.display_names;
  }

 private:
  std::shared_ptr<const LabComputer> computer_;  // one with services
};

// The computer's RemoteRegistry service; the lab grants every access right.
class LabService final : public Service {
 public:
  LabService(std::shared_ptr<const LabComputer> computer, std::shared_ptr<LabServiceStates> states)
      : computer_(std::move(computer)), states_(std::move(states)) {}

  Result<uint32_t> QueryState() override {
    SpendLatency(*computer_);
    return states_->Running(*computer_) ? svc::kRunning : svc::kStopped;
  }
  Result<uint32_t> QueryStartType() override {
    SpendLatency(*computer_);
    return states_->StartType(*computer_);
  }
  Status ChangeStartType(uint32_t start_type) override {
    SpendLatency(*computer_);
    return states_->ChangeStartType(*computer_, start_type);
  }
  Status Start() override {
    SpendLatency(*computer_);
    return states_->Start(*computer_);
  }
  Status Stop() override {
    SpendLatency(*computer_);
    return states_->Stop(*computer_);
  }

 private:
  std::shared_ptr<const LabComputer> computer_;
  std::shared_ptr<LabServiceStates> states_;
};

class LabServiceManager final : public ServiceManager {
 public:
  LabServiceManager(std::shared_ptr<const LabDirectory> lab,
                    std::shared_ptr<LabServiceStates> states)
      : lab_(std::move(lab)), states_(std::move(states)) {}

  Result<std::unique_ptr<ServiceControlManager>> Open(const std::string& host) override {
    std::shared_ptr<const LabComputer> computer = lab_->FindHost(host);
    if (computer == nullptr) return Win32Failure(win32::kRpcServerUnavailable);
    SpendLatency(*computer);
    if (!computer->services) return Win32Failure(win32::kAccessDenied);
    return std::unique_ptr<ServiceControlManager>(
        std::make_unique<LabServiceControlManager>(std::move(computer)));
  }

  Result<std::unique_ptr<Service>> OpenService(const std::string& host, const std::string& name,
                                               uint32_t /*access*/) override {
    std::shared_ptr<const LabComputer> computer = lab_->FindHost(host);
    if (computer == nullptr) return Win32Failure(win32::kRpcServerUnavailable);
    SpendLatency(*computer);
    if (!computer->services) return Win32Failure(win32::kAccessDenied);
    if (!EqualsIgnoreCase(name, kLabRegistryService)) {
      return Win32Failure(win32::kServiceDoesNotExist);
    }
    return std::unique_ptr<Service>(std::make_unique<LabService>(std::move(computer), states_));
  }

  // The lab answers from memory: the same seam serves any thread.
  std::unique_ptr<ServiceManager> Independent() override {
    return std::make_unique<LabServiceManager>(lab_, states_);
  }

 private:
  std::shared_ptr<const LabDirectory> lab_;
  std::shared_ptr<LabServiceStates> states_;
};

}  // namespace

std::unique_ptr<ServiceManager> NewLabServiceManager(std::shared_ptr<const LabDirectory> lab,
                                                     std::shared_ptr<LabServiceStates> states) {
  return std::make_unique<LabServiceManager>(std::move(lab), std::move(states));
}

}  // namespace hostlore
