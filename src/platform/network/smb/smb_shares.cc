// The share seam: the volume sizes behind an administrative share, from
// libsmbclient's statvfs on the share's connection.
#include "platform/network/smb/smb_backends.h"

namespace hostlore {
namespace {

class SmbShareSpace final : public ShareSpace {
 public:
  explicit SmbShareSpace(std::shared_ptr<SmbTargets> targets) : targets_(std::move(targets)) {}

  Result<DiskSpace> FreeSpace(const std::string& host, const std::string& share) override {
    Result<std::shared_ptr<SmbSession>> session = targets_->SessionFor(host);
    if (!session.ok()) return session.status();
    Result<struct statvfs> info = session.value()->ShareStatVfs(share);
    if (!info.ok()) return info.status();
    // libsmbclient reports sectors per allocation unit in f_frsize and bytes
    // per sector in f_bsize.
    const uint64_t unit = uint64_t{info->f_frsize} * info->f_bsize;
    DiskSpace space;
    space.total = uint64_t{info->f_blocks} * unit;
    space.total_free = uint64_t{info->f_bfree} * unit;
    space.free_to_caller = uint64_t{info->f_bavail} * unit;
    return space;
  }

 private:
  std::shared_ptr<SmbTargets> targets_;
};

}  // namespace

std::unique_ptr<ShareSpace> NewSmbShareSpace(std::shared_ptr<SmbTargets> targets) {
  return std::make_unique<SmbShareSpace>(std::move(targets));
}

}  // namespace hostlore
