#include "platform/network/rpc/svcctl_client.h"

#include "platform/network/rpc/svcctl_service_messages.h"
#include "platform/network/rpc/win32_failure.h"
#include "util/utf16.h"

namespace hostlore::svcctl {
namespace {

Status Malformed(const char* call) {
  return Status::Failure(win32::kRpcServerUnavailable,
                         std::string("malformed svcctl reply to ") + call);
}

uint32_t LittleEndian32(std::string_view bytes, size_t at) {
  uint32_t value = 0;
  for (size_t i = 4; i-- > 0;) value = value << 8 | static_cast<uint8_t>(bytes[at + i]);
  return value;
}

// The NUL-terminated UTF-16LE string at `offset` of `buffer`; false when it
// starts outside the buffer or runs off its end.
bool StringAt(std::string_view buffer, uint32_t offset, std::string& utf8) {
  std::u16string units;
  for (size_t at = offset; at + 1 < buffer.size(); at += 2) {
    const auto unit = static_cast<char16_t>(static_cast<uint8_t>(buffer[at]) |
                                            static_cast<uint8_t>(buffer[at + 1]) << 8);
    if (unit == u'\0') {
      utf8 = Utf16ToUtf8(units);
      return true;
    }
    units += unit;
  }
  return false;
}

}  // namespace

const rpc::SyntaxId& InterfaceId() {
  static const rpc::SyntaxId id = rpc::MakeSyntaxId("367abb81-9844-35f1-ad32-98f038001003", 2, 0);
  return id;
}

std::string EncodeOpenSCManager(uint32_t access) {
  rpc::NdrWriter w;
  w.Null();  // machine name: the pipe's server
  w.Null();  // database: the active one
  w.U32(access);
  return w.bytes();
}

std::string EncodeEnumServices(const rpc::ContextHandle& manager, uint32_t buffer_bytes) {
  rpc::NdrWriter w;
  w.Handle(manager);
  w.U32(kServiceWin32);
  w.U32(kServiceStateAll);
  w.U32(buffer_bytes);
  w.Referent();  // resume handle, starting at 0
  w.U32(0);
  return w.bytes();
}

std::string EncodeCloseServiceHandle(const rpc::ContextHandle& handle) {
  rpc::NdrWriter w;
  w.Handle(handle);
  return w.bytes();
}

Result<rpc::ContextHandle> DecodeHandleReply(std::string_view stub) {
  rpc::NdrReader r(stub);
  const rpc::ContextHandle handle = r.Handle();
  const uint32_t status = r.U32();
  if (!r.ok()) return Malformed("a handle call");
  if (status != 0) return Win32Failure(status, "service control manager");
  return handle;
}

Result<EnumServicesReply> DecodeEnumServices(std::string_view stub) {
  rpc::NdrReader r(stub);
  const uint32_t size = r.U32();
  if (size > r.remaining()) r.Fail();
  const std::string buffer = r.Bytes(size);
  EnumServicesReply reply;
  reply.bytes_needed = r.U32();
  const uint32_t returned = r.U32();
  if (r.U32() != 0) r.U32();  // resume handle
  reply.status = r.U32();
  if (!r.ok()) return Malformed("EnumServicesStatusW");
  if (returned > buffer.size() / kRecordBytes) return Malformed("EnumServicesStatusW records");
  for (uint32_t i = 0; i < returned; ++i) {
    const uint32_t display_offset = LittleEndian32(buffer, size_t{i} * kRecordBytes + 4);
    std::string name;
    if (!StringAt(buffer, display_offset, name)) return Malformed("EnumServicesStatusW names");
    reply.display_names.push_back(std::move(name));
  }
  return reply;
}

Result<rpc::ContextHandle> SvcctlClient::OpenManager(uint32_t access) {
  Result<std::string> reply = channel_->Call(opnum::kOpenSCManagerW, EncodeOpenSCManager(access));
  if (!reply.ok()) return reply.status();
  return DecodeHandleReply(reply.value());
}

Result<EnumServicesReply> SvcctlClient::EnumServices(const rpc::ContextHandle& manager,
                                                     uint32_t buffer_bytes) {
  Result<std::string> reply =
      channel_->Call(opnum::kEnumServicesStatusW, EncodeEnumServices(manager, buffer_bytes));
  if (!reply.ok()) return reply.status();
  return DecodeEnumServices(reply.value());
}

Status SvcctlClient::Close(const rpc::ContextHandle& handle) {
  Result<std::string> reply =
      channel_->Call(opnum::kCloseServiceHandle, EncodeCloseServiceHandle(handle));
  if (!reply.ok()) return reply.status();
  return DecodeHandleReply(reply.value()).status();
}

}  // namespace hostlore::svcctl

namespace hostlore::svcctl {

Result<rpc::ContextHandle> SvcctlClient::OpenService(const rpc::ContextHandle& manager,
                                                     std::string_view name, uint32_t access) {
  Result<std::string> request = EncodeOpenService(manager, name, access);
  if (!request.ok()) return request.status();
  Result<std::string> reply = channel_->Call(opnum::kOpenServiceW, request.value());
  if (!reply.ok()) return reply.status();
  rpc::NdrReader r(reply.value());
  const rpc::ContextHandle handle = r.Handle();
  const uint32_t status = r.U32();
  if (!r.ok()) return Malformed("OpenServiceW");
  if (status != 0) return Win32Failure(status, "OpenServiceW");
  return handle;
}

Result<uint32_t> SvcctlClient::QueryState(const rpc::ContextHandle& service) {
  Result<std::string> reply =
      channel_->Call(opnum::kQueryServiceStatus, EncodeCloseServiceHandle(service));
  if (!reply.ok()) return reply.status();
  return DecodeServiceStatus(reply.value(), "QueryServiceStatus");
}

Result<uint32_t> SvcctlClient::QueryStartType(const rpc::ContextHandle& service) {
  Result<std::string> reply =
      channel_->Call(opnum::kQueryServiceConfigW, EncodeQueryServiceConfig(service));
  if (!reply.ok()) return reply.status();
  return DecodeStartType(reply.value());
}

Status SvcctlClient::ChangeStartType(const rpc::ContextHandle& service, uint32_t start_type) {
  Result<std::string> reply =
      channel_->Call(opnum::kChangeServiceConfigW, EncodeChangeStartType(service, start_type));
  if (!reply.ok()) return reply.status();
  return DecodeChangeServiceConfig(reply.value());
}

Status SvcctlClient::Start(const rpc::ContextHandle& service) {
  Result<std::string> reply = channel_->Call(opnum::kStartServiceW, EncodeStartService(service));
  if (!reply.ok()) return reply.status();
  return DecodeStatus(reply.value(), "StartServiceW");
}

Status SvcctlClient::Stop(const rpc::ContextHandle& service) {
  Result<std::string> reply =
      channel_->Call(opnum::kControlService, EncodeControlService(service, kControlStop));
  if (!reply.ok()) return reply.status();
  return DecodeServiceStatus(reply.value(), "ControlService").status();
}

}  // namespace hostlore::svcctl
