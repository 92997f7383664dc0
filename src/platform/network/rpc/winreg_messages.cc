#include "platform/network/rpc/winreg_messages.h"

#include "platform/network/rpc/win32_failure.h"
#include "util/utf16.h"

namespace hostlore::winreg {
namespace {

Status Malformed(const char* call) {
  return Status::Failure(win32::kRpcServerUnavailable,
                         std::string("malformed winreg reply to ") + call);
}

std::string WithoutTrailingNuls(std::string units) {
  while (units.size() >= 2 && units[units.size() - 1] == '\0' && units[units.size() - 2] == '\0') {
    units.resize(units.size() - 2);
  }
  return units;
}

}  // namespace

Status WriteUnicodeString(rpc::NdrWriter& w, std::string_view utf8) {
  std::string units = Utf8ToUtf16LeBytes(utf8);
  units.append(2, '\0');
  if (units.size() > 0xFFFE) {
    return Win32Failure(win32::kInvalidParameter, "registry name too long");
  }
  const auto bytes = static_cast<uint16_t>(units.size());
  w.U16(bytes);
  w.U16(bytes);
  w.Referent();
  w.U32(bytes / 2);
  w.U32(0);
  w.U32(bytes / 2);
  w.Bytes(units);
  return Status::Ok();
}

const rpc::SyntaxId& InterfaceId() {
  static const rpc::SyntaxId id = rpc::MakeSyntaxId("338cd001-2244-31f1-aaaa-900038001003", 1, 0);
  return id;
}

std::string EncodeOpenHive(uint32_t access) {
  rpc::NdrWriter w;
  w.Null();  // server name: unused
  w.U32(access);
  return w.bytes();
}

Result<std::string> EncodeOpenKey(const rpc::ContextHandle& parent, std::string_view path,
                                  uint32_t access) {
  rpc::NdrWriter w;
  w.Handle(parent);
  if (Status written = WriteUnicodeString(w, path); !written.ok()) return written;
  w.U32(0);  // options
  w.U32(access);
  return w.bytes();
}

Result<std::string> EncodeQueryValue(const rpc::ContextHandle& key, std::string_view name,
                                     uint32_t buffer_bytes) {
  rpc::NdrWriter w;
  w.Handle(key);
  if (Status written = WriteUnicodeString(w, name); !written.ok()) return written;
  w.Referent();  // type
  w.U32(0);
  w.Referent();  // data: room for buffer_bytes, none sent
  w.U32(buffer_bytes);
  w.U32(0);
  w.U32(0);
  w.Referent();  // buffer size
  w.U32(buffer_bytes);
  w.Referent();  // data length
  w.U32(0);
  return w.bytes();
}

std::string EncodeEnumKey(const rpc::ContextHandle& key, uint32_t index) {
  rpc::NdrWriter w;
  w.Handle(key);
  w.U32(index);
  // The name buffer: empty, with room for kNameBuffer bytes.
  w.U16(0);
  w.U16(kNameBuffer);
  w.Referent();
  w.U32(kNameBuffer / 2);
  w.U32(0);
  w.U32(0);
  // The class buffer: present but empty (servers insist on it).
  w.Referent();
  w.U16(0);
  w.U16(0);
  w.Null();
  // Last write time, a FILETIME (two 32-bit halves): asked for, not used.
  w.Referent();
  w.U32(0);
  w.U32(0);
  return w.bytes();
}

std::string EncodeCloseKey(const rpc::ContextHandle& key) {
  rpc::NdrWriter w;
  w.Handle(key);
  return w.bytes();
}

Result<std::string> EncodeSaveKey(const rpc::ContextHandle& key, std::string_view path) {
  rpc::NdrWriter w;
  w.Handle(key);
  if (Status written = WriteUnicodeString(w, path); !written.ok()) return written;
  w.Null();  // security attributes: the file's default
  return w.bytes();
}

Status DecodeStatusReply(std::string_view stub) {
  rpc::NdrReader r(stub);
  const uint32_t status = r.U32();
  if (!r.ok()) return Malformed("a status call");
  if (status != 0) return Win32Failure(status, "registry");
  return Status::Ok();
}

Result<rpc::ContextHandle> DecodeHandleReply(std::string_view stub) {
  rpc::NdrReader r(stub);
  const rpc::ContextHandle handle = r.Handle();
  const uint32_t status = r.U32();
  if (!r.ok()) return Malformed("a key call");
  if (status != 0) return Win32Failure(status, "registry key");
  return handle;
}

Result<QueryValueReply> DecodeQueryValue(std::string_view stub) {
  rpc::NdrReader r(stub);
  QueryValueReply reply;
  if (r.U32() != 0) reply.value.type = r.U32();
  if (r.U32() != 0) {
    const uint32_t maximum = r.U32();
    const uint32_t offset = r.U32();
    const uint32_t actual = r.U32();
    if (offset != 0 || actual > maximum) r.Fail();
    reply.value.data = r.Bytes(actual);
  }
  if (r.U32() != 0) reply.size_needed = r.U32();
  if (r.U32() != 0) {
    const uint32_t length = r.U32();
    if (length < reply.value.data.size()) reply.value.data.resize(length);
  }
  reply.status = r.U32();
  if (!r.ok()) return Malformed("QueryValue");
  return reply;
}

Result<std::string> DecodeEnumKey(std::string_view stub) {
  rpc::NdrReader r(stub);
  r.U16();  // length
  r.U16();  // size
  std::string units;
  if (r.U32() != 0) units = rpc::ReadVaryingUtf16(r);
  if (r.U32() != 0) {  // class
    r.U16();
    r.U16();
    if (r.U32() != 0) rpc::ReadVaryingUtf16(r);
  }
  if (r.U32() != 0) {  // last write time, two 32-bit halves
    r.U32();
    r.U32();
  }
  const uint32_t status = r.U32();
  if (!r.ok()) return Malformed("EnumKey");
  if (status != 0) return Win32Failure(status, "registry subkey");
  return Utf16ToUtf8(Utf16LeBytesToUnits(WithoutTrailingNuls(std::move(units))));
}

}  // namespace hostlore::winreg
