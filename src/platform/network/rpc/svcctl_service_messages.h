// The svcctl calls on one service: open it, ask its state and start type,
// set its start type, start it, stop it. Pure encoders and decoders, so
// that tests and the fuzz target reach them without a server.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/network/rpc/ndr.h"
#include "platform/status.h"

namespace hostlore::svcctl {

namespace opnum {
inline constexpr uint16_t kControlService = 1;
inline constexpr uint16_t kQueryServiceStatus = 6;
inline constexpr uint16_t kChangeServiceConfigW = 11;
inline constexpr uint16_t kOpenServiceW = 16;
inline constexpr uint16_t kQueryServiceConfigW = 17;
inline constexpr uint16_t kStartServiceW = 19;
}  // namespace opnum

inline constexpr uint32_t kManagerConnect = 0x0001;  // SC_MANAGER_CONNECT
inline constexpr uint32_t kNoChange = 0xFFFFFFFF;    // SERVICE_NO_CHANGE
inline constexpr uint32_t kControlStop = 1;          // SERVICE_CONTROL_STOP
// The largest configuration the interface returns.
inline constexpr uint32_t kMaxConfigBuffer = 8 * 1024;

// Failure: a name too long for the interface.
Result<std::string> EncodeOpenService(const rpc::ContextHandle& manager, std::string_view name,
                                      uint32_t access);
// QueryServiceStatus takes the handle alone, as CloseServiceHandle does.
std::string EncodeQueryServiceConfig(const rpc::ContextHandle& service);
std::string EncodeChangeStartType(const rpc::ContextHandle& service, uint32_t start_type);
std::string EncodeStartService(const rpc::ContextHandle& service);
std::string EncodeControlService(const rpc::ContextHandle& service, uint32_t control);

// Each decoder fails with the call's Win32 status (its description naming
// `call`), or with win32::kRpcServerUnavailable for malformed bytes.

// A QueryServiceStatus or ControlService reply: the service's current state.
Result<uint32_t> DecodeServiceStatus(std::string_view stub, const char* call);
// A QueryServiceConfigW reply: the start type.
Result<uint32_t> DecodeStartType(std::string_view stub);
// A ChangeServiceConfigW reply.
Status DecodeChangeServiceConfig(std::string_view stub);
// A reply that is its status alone (StartServiceW).
Status DecodeStatus(std::string_view stub, const char* call);

}  // namespace hostlore::svcctl
