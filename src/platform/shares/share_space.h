// The share space seam: size and free space of a machine's shares.
#pragma once

#include <cstdint>
#include <string>

#include "platform/status.h"

namespace hostlore {

struct DiskSpace {
  uint64_t free_to_caller = 0;  // bytes the caller's account may still use
  uint64_t total = 0;           // bytes of the volume behind the share
  uint64_t total_free = 0;      // free bytes of that volume
};

class ShareSpace {
 public:
  ShareSpace() = default;
  ShareSpace(const ShareSpace&) = delete;
  ShareSpace& operator=(const ShareSpace&) = delete;
  virtual ~ShareSpace() = default;

  // The byte counts of share `share` (for example "C$"; case-insensitive) on
  // `host`. Failure: the system error code when the share cannot be reached.
  virtual Result<DiskSpace> FreeSpace(const std::string& host, const std::string& share) = 0;
};

}  // namespace hostlore
