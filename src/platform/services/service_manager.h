// The service control manager seam: the display names of a machine's Win32
// services, with the two-call sizing of the Win32 enumeration; and one
// service's state and start type, which the agent may change (to start the
// target's RemoteRegistry service) and put back.
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

// Service states, start types and access rights, as the service control
// manager numbers them.
namespace svc {
inline constexpr uint32_t kStopped = 1;
inline constexpr uint32_t kStartPending = 2;
inline constexpr uint32_t kStopPending = 3;
inline constexpr uint32_t kRunning = 4;

inline constexpr uint32_t kAutoStart = 2;
inline constexpr uint32_t kDemandStart = 3;
inline constexpr uint32_t kDisabled = 4;

inline constexpr uint32_t kQueryConfig = 0x0001;
inline constexpr uint32_t kChangeConfig = 0x0002;
inline constexpr uint32_t kQueryStatus = 0x0004;
inline constexpr uint32_t kStart = 0x0010;
inline constexpr uint32_t kStop = 0x0020;
}  // namespace svc

// One open service. Closed when destroyed. Failures carry the system error
// code the service control manager answered with (5 access denied, 1056
// already running, 1058 disabled, 1062 not running, ...), or the
// transport's when no answer came.
class Service {
 public:
  Service() = default;
  Service(const Service&) = delete;
  Service& operator=(const Service&) = delete;
  virtual ~Service() = default;

  // The current state (svc::kStopped, kRunning, ...). Needs svc::kQueryStatus.
  virtual Result<uint32_t> QueryState() = 0;
  // The start type (svc::kAutoStart, kDemandStart, kDisabled). Needs
  // svc::kQueryConfig.
  virtual Result<uint32_t> QueryStartType() = 0;
  // Sets the start type, nothing else. Needs svc::kChangeConfig.
  virtual Status ChangeStartType(uint32_t start_type) = 0;
  // Asks the service to start; success means the request was taken, not
  // that the service runs yet. Needs svc::kStart.
  virtual Status Start() = 0;
  // Asks the service to stop. Needs svc::kStop.
  virtual Status Stop() = 0;
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

  // Opens service `name` of `host` with the rights `access` (svc::k...).
  // Failure: the system error code (5 access denied, 1060 no such service,
  // 1722 unreachable, ...).
  virtual Result<std::unique_ptr<Service>> OpenService(const std::string& host,
                                                       const std::string& name,
                                                       uint32_t access) = 0;

  // A service manager of the same machines with connections of its own, so
  // that another thread may use it while this one waits on the network. It
  // authenticates as this one would now (call it once the machine has been
  // reached).
  virtual std::unique_ptr<ServiceManager> Independent() = 0;
};

}  // namespace hostlore
