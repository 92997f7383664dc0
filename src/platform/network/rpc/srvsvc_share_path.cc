#include "platform/network/rpc/srvsvc_share_path.h"

#include "platform/network/rpc/ndr.h"
#include "platform/network/rpc/win32_failure.h"
#include "util/utf16.h"

namespace hostlore::srvsvc {
namespace {

constexpr uint32_t kLevel = 2;  // SHARE_INFO_2: the one that has the path

Status Malformed() {
  return Status::Failure(win32::kRpcServerUnavailable, "malformed srvsvc reply to NetrShareGetInfo");
}

// A [string] wide text: counts, then the characters with their NUL.
void WriteString(rpc::NdrWriter& w, std::string_view utf8) {
  std::string units = Utf8ToUtf16LeBytes(utf8);
  units.append(2, '\0');
  const auto count = static_cast<uint32_t>(units.size() / 2);
  w.U32(count);
  w.U32(0);
  w.U32(count);
  w.Bytes(units);
}

std::string Text(std::string units) {
  while (units.size() >= 2 && units[units.size() - 1] == '\0' && units[units.size() - 2] == '\0') {
    units.resize(units.size() - 2);
  }
  return Utf16ToUtf8(Utf16LeBytesToUnits(units));
}

}  // namespace

const rpc::SyntaxId& InterfaceId() {
  static const rpc::SyntaxId id = rpc::MakeSyntaxId("4b324fc8-1670-01d3-1278-5a47bf6ee188", 3, 0);
  return id;
}

Result<std::string> EncodeShareGetInfo(std::string_view share) {
  if (share.size() > 256) return Win32Failure(win32::kInvalidParameter, "share name too long");
  rpc::NdrWriter w;
  w.Null();  // server name: the one the pipe reaches
  WriteString(w, share);
  w.U32(kLevel);
  return w.bytes();
}

Result<std::string> DecodeSharePath(std::string_view stub) {
  rpc::NdrReader r(stub);
  const uint32_t level = r.U32();
  const bool present = r.U32() != 0;
  std::string path;
  if (present) {
    if (level != kLevel) return Malformed();
    // netname, type, remark, permissions, max uses, current uses, path,
    // password: the pointers, then the texts they point to, in order.
    const bool netname = r.U32() != 0;
    r.U32();
    const bool remark = r.U32() != 0;
    r.U32();
    r.U32();
    r.U32();
    const bool has_path = r.U32() != 0;
    const bool password = r.U32() != 0;
    if (netname) rpc::ReadVaryingUtf16(r);
    if (remark) rpc::ReadVaryingUtf16(r);
    if (has_path) path = Text(rpc::ReadVaryingUtf16(r));
    if (password) rpc::ReadVaryingUtf16(r);
  }
  const uint32_t status = r.U32();
  if (!r.ok()) return Malformed();
  if (status != 0) return Win32Failure(status, "share");
  if (!present || path.empty()) return Win32Failure(win32::kFileNotFound, "share path");
  return path;
}

Result<std::string> SharePath(rpc::RpcChannel& channel, std::string_view share) {
  Result<std::string> request = EncodeShareGetInfo(share);
  if (!request.ok()) return request.status();
  Result<std::string> reply = channel.Call(opnum::kNetrShareGetInfo, request.value());
  if (!reply.ok()) return reply.status();
  return DecodeSharePath(reply.value());
}

}  // namespace hostlore::srvsvc
