// The svcctl RPC interface, for the calls the service seam needs: open the
// service control manager, enumerate services, work on one service
// (svcctl_service_messages.h), close. The encoders and
// decoders are pure so that tests and the fuzz target reach them without a
// server.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/network/rpc/ndr.h"
#include "platform/network/rpc/rpc_channel.h"

namespace hostlore::svcctl {

const rpc::SyntaxId& InterfaceId();

namespace opnum {
inline constexpr uint16_t kCloseServiceHandle = 0;
inline constexpr uint16_t kEnumServicesStatusW = 14;
inline constexpr uint16_t kOpenSCManagerW = 15;
}  // namespace opnum

inline constexpr uint32_t kEnumerateService = 0x0004;  // SC_MANAGER_ENUMERATE_SERVICE
inline constexpr uint32_t kServiceWin32 = 0x30;        // own- and share-process services
inline constexpr uint32_t kServiceStateAll = 3;
// The largest buffer the interface accepts.
inline constexpr uint32_t kMaxBuffer = 0x40000;
// One ENUM_SERVICE_STATUSW record as the interface lays it out: two string
// offsets and a SERVICE_STATUS.
inline constexpr uint32_t kRecordBytes = 36;

std::string EncodeOpenSCManager(uint32_t access);
std::string EncodeEnumServices(const rpc::ContextHandle& manager, uint32_t buffer_bytes);
std::string EncodeCloseServiceHandle(const rpc::ContextHandle& handle);

// An open or close reply. Failure: its Win32 status, or malformed bytes.
Result<rpc::ContextHandle> DecodeHandleReply(std::string_view stub);

struct EnumServicesReply {
  uint32_t status = 0;  // Win32 code: 0, 234 (buffer too small), ...
  uint32_t bytes_needed = 0;
  // Display names (UTF-8) of the returned records, in order.
  std::vector<std::string> display_names;
};
// Failure: malformed bytes, including a record whose string offset points
// outside the buffer.
Result<EnumServicesReply> DecodeEnumServices(std::string_view stub);

class SvcctlClient {
 public:
  explicit SvcctlClient(std::unique_ptr<rpc::RpcChannel> channel)
      : channel_(std::move(channel)) {}

  Result<rpc::ContextHandle> OpenManager(uint32_t access);
  // Failure: only when the call itself fails; a Win32 status is in the reply.
  Result<EnumServicesReply> EnumServices(const rpc::ContextHandle& manager,
                                         uint32_t buffer_bytes);
  Status Close(const rpc::ContextHandle& handle);
  // The channel failed: every later call fails at once.
  bool broken() const { return channel_->broken(); }

  // One service. Failure: the call's Win32 status, or the transport's.
  Result<rpc::ContextHandle> OpenService(const rpc::ContextHandle& manager, std::string_view name,
                                         uint32_t access);
  Result<uint32_t> QueryState(const rpc::ContextHandle& service);
  Result<uint32_t> QueryStartType(const rpc::ContextHandle& service);
  Status ChangeStartType(const rpc::ContextHandle& service, uint32_t start_type);
  Status Start(const rpc::ContextHandle& service);
  Status Stop(const rpc::ContextHandle& service);

 private:
  std::unique_ptr<rpc::RpcChannel> channel_;
};

}  // namespace hostlore::svcctl
