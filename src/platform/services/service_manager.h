// The service control manager seam: the display names of a machine's Win32
// services, with the two-call sizing of the Win32 enumeration.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/status.h"

namespace hostlore {

// What the size query (an enumeration without a buffer) ends with.
struct ServiceSizeQuery {
  // The system error code after the call: win32::kMoreData (234) when there
  // are services to list, another code (for example 0 when there is none)
  // otherwise.
  uint32_t error = 0;
  // Bytes the listing needs, counting 36-byte records plus their strings.
  uint32_t bytes_needed = 0;
};

// An open service control manager. Closed when destroyed.
class ServiceControlManager {
 public:
  ServiceControlManager() = default;
  ServiceControlManager(const ServiceControlManager&) = delete;
  ServiceControlManager& operator=(const ServiceControlManager&) = delete;
  virtual ~ServiceControlManager() = default;

  virtual ServiceSizeQuery QuerySize() = 0;

  // The display names of all Win32 services (own- and share-process, active
  // and inactive), in enumeration order, into a buffer of `buffer_bytes`.
  // Failure: the system error code (win32::kMoreData when the buffer is too
  // small for them).
  virtual Result<std::vector<std::string>> ListDisplayNames(uint32_t buffer_bytes) = 0;
};

class ServiceManager {
 public:
  ServiceManager() = default;
  ServiceManager(const ServiceManager&) = delete;
  ServiceManager& operator=(const ServiceManager&) = delete;
  virtual ~ServiceManager() = default;

  // Opens the service control manager of `host` for enumeration.
  // Failure: the system error code (5 access denied, 1722 unreachable, ...).
  virtual Result<std::unique_ptr<ServiceControlManager>> Open(const std::string& host) = 0;
};

}  // namespace hostlore
