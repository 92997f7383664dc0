#include "platform/network/rpc/svcctl_service_messages.h"

#include "platform/network/rpc/win32_failure.h"
#include "util/utf16.h"

namespace hostlore::svcctl {
namespace {

// Service names are at most 256 characters (SC_MAX_NAME_LENGTH).
constexpr size_t kMaxNameCharacters = 256;

Status Malformed(const char* call) {
  return Status::Failure(win32::kRpcServerUnavailable,
                         std::string("malformed svcctl reply to ") + call);
}

// Skips a SERVICE_STATUS and returns its current state.
uint32_t ReadServiceStatus(rpc::NdrReader& r) {
  r.U32();  // service type
  const uint32_t state = r.U32();
  for (int i = 0; i < 5; ++i) r.U32();  // controls, exit codes, check point, wait hint
  return state;
}

}  // namespace

Result<std::string> EncodeOpenService(const rpc::ContextHandle& manager, std::string_view name,
                                      uint32_t access) {
  std::string units = Utf8ToUtf16LeBytes(name);
  if (units.size() / 2 > kMaxNameCharacters) {
    return Win32Failure(win32::kInvalidParameter, "service name too long");
  }
  units.append(2, '\0');
  rpc::NdrWriter w;
  w.Handle(manager);
  // A [string] reference pointer: the conformant varying array alone.
  const auto count = static_cast<uint32_t>(units.size() / 2);
  w.U32(count);
  w.U32(0);
  w.U32(count);
  w.Bytes(units);
  w.U32(access);
  return w.bytes();
}

std::string EncodeQueryServiceConfig(const rpc::ContextHandle& service) {
  rpc::NdrWriter w;
  w.Handle(service);
  w.U32(kMaxConfigBuffer);
  return w.bytes();
}

std::string EncodeChangeStartType(const rpc::ContextHandle& service, uint32_t start_type) {
  rpc::NdrWriter w;
  w.Handle(service);
  w.U32(kNoChange);  // service type
  w.U32(start_type);
  w.U32(kNoChange);  // error control
  w.Null();          // binary path
  w.Null();          // load order group
  w.Null();          // tag id
  w.Null();          // dependencies
  w.U32(0);
  w.Null();  // service start name
  w.Null();  // password
  w.U32(0);
  w.Null();  // display name
  return w.bytes();
}

std::string EncodeStartService(const rpc::ContextHandle& service) {
  rpc::NdrWriter w;
  w.Handle(service);
  w.U32(0);  // argc
  w.Null();  // argv
  return w.bytes();
}

std::string EncodeControlService(const rpc::ContextHandle& service, uint32_t control) {
  rpc::NdrWriter w;
  w.Handle(service);
  w.U32(control);
  return w.bytes();
}

Result<uint32_t> DecodeServiceStatus(std::string_view stub, const char* call) {
  rpc::NdrReader r(stub);
  const uint32_t state = ReadServiceStatus(r);
  const uint32_t status = r.U32();
  if (!r.ok()) return Malformed(call);
  if (status != 0) return Win32Failure(status, call);
  return state;
}

Result<uint32_t> DecodeStartType(std::string_view stub) {
  rpc::NdrReader r(stub);
  r.U32();  // service type
  const uint32_t start_type = r.U32();
  r.U32();  // error control
  uint32_t strings[5];
  strings[0] = r.U32();  // binary path
  strings[1] = r.U32();  // load order group
  r.U32();               // tag id
  strings[2] = r.U32();  // dependencies
  strings[3] = r.U32();  // service start name
  strings[4] = r.U32();  // display name
  for (const uint32_t referent : strings) {
    if (referent != 0) rpc::ReadVaryingUtf16(r);
  }
  r.U32();  // bytes needed
  const uint32_t status = r.U32();
  if (!r.ok()) return Malformed("QueryServiceConfigW");
  if (status != 0) return Win32Failure(status, "QueryServiceConfigW");
  return start_type;
}

Status DecodeChangeServiceConfig(std::string_view stub) {
  rpc::NdrReader r(stub);
  if (r.U32() != 0) r.U32();  // tag id
  const uint32_t status = r.U32();
  if (!r.ok()) return Malformed("ChangeServiceConfigW");
  if (status != 0) return Win32Failure(status, "ChangeServiceConfigW");
  return Status::Ok();
}

Status DecodeStatus(std::string_view stub, const char* call) {
  rpc::NdrReader r(stub);
  const uint32_t status = r.U32();
  if (!r.ok()) return Malformed(call);
  if (status != 0) return Win32Failure(status, call);
  return Status::Ok();
}

}  // namespace hostlore::svcctl
