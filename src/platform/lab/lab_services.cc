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

class LabServiceManager final : public ServiceManager {
 public:
  explicit LabServiceManager(std::shared_ptr<const LabDirectory> lab) : lab_(std::move(lab)) {}

  Result<std::unique_ptr<ServiceControlManager>> Open(const std::string& host) override {
    std::shared_ptr<const LabComputer> computer = lab_->FindHost(host);
    if (computer == nullptr) return Win32Failure(win32::kRpcServerUnavailable);
    SpendLatency(*computer);
    if (!computer->services) return Win32Failure(win32::kAccessDenied);
    return std::unique_ptr<ServiceControlManager>(
        std::make_unique<LabServiceControlManager>(std::move(computer)));
  }

 private:
  std::shared_ptr<const LabDirectory> lab_;
};

}  // namespace

std::unique_ptr<ServiceManager> NewLabServiceManager(std::shared_ptr<const LabDirectory> lab) {
  return std::make_unique<LabServiceManager>(std::move(lab));
}

}  // namespace hostlore
