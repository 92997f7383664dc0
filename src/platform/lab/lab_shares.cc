// The administrative shares of lab computers. The lab has no quotas: the
// caller may use all the free space.
#include "platform/lab/lab_failures.h"
#include "platform/lab/lab_seams.h"

namespace hostlore {
namespace {

class LabShareSpace final : public ShareSpace {
 public:
  explicit LabShareSpace(std::shared_ptr<const LabDirectory> lab) : lab_(std::move(lab)) {}

  Result<DiskSpace> FreeSpace(const std::string& host, const std::string& share) override {
    const std::shared_ptr<const LabComputer> computer = lab_->FindHost(host);
    if (computer == nullptr) return Win32Failure(win32::kBadNetPath);
    SpendLatency(*computer);
    const LabShare* found = FindIgnoreCase(computer->shares, share);
    if (found == nullptr) return Win32Failure(win32::kBadNetPath);
    return DiskSpace{found->free, found->total, found->free};
  }

 private:
  std::shared_ptr<const LabDirectory> lab_;
};

}  // namespace

std::unique_ptr<ShareSpace> NewLabShareSpace(std::shared_ptr<const LabDirectory> lab) {
  return std::make_unique<LabShareSpace>(std::move(lab));
}

}  // namespace hostlore
