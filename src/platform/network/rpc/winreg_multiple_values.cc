#include "platform/network/rpc/winreg_multiple_values.h"

#include "platform/network/rpc/win32_failure.h"
#include "platform/network/rpc/winreg_client.h"

namespace hostlore::winreg {
namespace {

Status Malformed() {
  return Status::Failure(win32::kRpcServerUnavailable,
                         "malformed winreg reply to QueryMultipleValues");
}

// One value entry as it travels: a pointer to the name, the data's length,
// its offset in the shared buffer, and its type.
struct Entry {
  uint32_t length = 0;
  uint32_t offset = 0;
  uint32_t type = 0;
  bool named = false;
};

}  // namespace

Result<std::string> EncodeQueryMultipleValues(const rpc::ContextHandle& key,
                                              const std::vector<std::string>& names,
                                              uint32_t buffer_bytes) {
  const auto count = static_cast<uint32_t>(names.size());
  rpc::NdrWriter w;
  w.Handle(key);
  // The entries: a conformant varying array of structures whose name
  // pointers are followed, after the last entry, by the names themselves.
  w.U32(count);
  w.U32(0);
  w.U32(count);
  for (uint32_t i = 0; i < count; ++i) {
    w.Referent();
    w.U32(0);  // length
    w.U32(0);  // offset
    w.U32(0);  // type
  }
  for (const std::string& name : names) {
    if (Status written = WriteUnicodeString(w, name); !written.ok()) return written;
  }
  w.U32(count);
  w.Referent();
  w.U32(buffer_bytes);
  w.U32(0);
  w.U32(buffer_bytes);
  w.Bytes(std::string(buffer_bytes, '\0'));
  w.U32(buffer_bytes);
  return w.bytes();
}

Result<MultipleValuesReply> DecodeQueryMultipleValues(std::string_view stub, size_t count) {
  rpc::NdrReader r(stub);
  const uint32_t maximum = r.U32();
  const uint32_t offset = r.U32();
  const uint32_t actual = r.U32();
  if (offset != 0 || actual > maximum || actual != count || actual > r.remaining() / 16) {
    return Malformed();
  }
  std::vector<Entry> entries(actual);
  for (Entry& entry : entries) {
    entry.named = r.U32() != 0;
    entry.length = r.U32();
    entry.offset = r.U32();
    entry.type = r.U32();
  }
  for (const Entry& entry : entries) {
    if (!entry.named) continue;
    r.U16();  // length
    r.U16();  // size
    if (r.U32() != 0) rpc::ReadVaryingUtf16(r);
  }
  std::string buffer;
  if (r.U32() != 0) {
    const uint32_t buffer_maximum = r.U32();
    const uint32_t buffer_offset = r.U32();
    const uint32_t buffer_actual = r.U32();
    if (buffer_offset != 0 || buffer_actual > buffer_maximum) r.Fail();
    buffer = r.Bytes(buffer_actual);
  }
  MultipleValuesReply reply;
  const uint32_t total = r.U32();
  reply.status = r.U32();
  if (!r.ok()) return Malformed();
  if (reply.status == win32::kMoreData) reply.size_needed = total;
  if (reply.status != 0) return reply;
  for (const Entry& entry : entries) {
    if (entry.offset > buffer.size() || entry.length > buffer.size() - entry.offset) {
      return Malformed();
    }
    reply.values.push_back(RegistryValue{entry.type, buffer.substr(entry.offset, entry.length)});
  }
  return reply;
}

}  // namespace hostlore::winreg
