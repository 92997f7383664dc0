// The winreg RPC interface on the wire, for the calls the registry seam
// needs: open a hive, open a key, query a value, enumerate subkeys, close.
// The encoders and decoders are pure so that tests and the fuzz target reach
// them without a server.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/network/rpc/dcerpc_pdu.h"
#include "platform/network/rpc/ndr.h"
#include "platform/registry/registry.h"

namespace hostlore::winreg {

const rpc::SyntaxId& InterfaceId();

namespace opnum {
inline constexpr uint16_t kOpenHKLM = 2;
inline constexpr uint16_t kOpenHKU = 4;
inline constexpr uint16_t kCloseKey = 5;
inline constexpr uint16_t kEnumKey = 9;
inline constexpr uint16_t kOpenKey = 15;
inline constexpr uint16_t kQueryValue = 17;
inline constexpr uint16_t kSaveKey = 20;
}  // namespace opnum

// The buffer offered for a value's data on the first query; a larger
// value is queried again with the size the server names.
inline constexpr uint32_t kValueBuffer = 64 * 1024;
// The buffer offered for a subkey name, in bytes (256 characters).
inline constexpr uint16_t kNameBuffer = 512;

// An RRP_UNICODE_STRING with its terminating NUL counted, as servers
// expect: lengths in bytes, a pointer, then the characters as a varying
// array. Failure: a name too long for 16-bit lengths.
Status WriteUnicodeString(rpc::NdrWriter& w, std::string_view utf8);

std::string EncodeOpenHive(uint32_t access);
Result<std::string> EncodeOpenKey(const rpc::ContextHandle& parent, std::string_view path,
                                  uint32_t access);
Result<std::string> EncodeQueryValue(const rpc::ContextHandle& key, std::string_view name,
                                     uint32_t buffer_bytes);
std::string EncodeEnumKey(const rpc::ContextHandle& key, uint32_t index);
std::string EncodeCloseKey(const rpc::ContextHandle& key);
// BaseRegSaveKey: `key` and its subtree to the file `path` of the server's
// file system, with the file's default security.
Result<std::string> EncodeSaveKey(const rpc::ContextHandle& key, std::string_view path);

// A reply that carries a handle and a Win32 status (open and close calls).
// Failure: the status when it is not 0, or malformed bytes.
Result<rpc::ContextHandle> DecodeHandleReply(std::string_view stub);

// A reply that carries a Win32 status alone. Failure: the status when it
// is not 0, or malformed bytes.
Status DecodeStatusReply(std::string_view stub);

struct QueryValueReply {
  uint32_t status = 0;  // Win32 code: 0, 2, 234 (buffer too small), ...
  RegistryValue value;
  uint32_t size_needed = 0;
};
Result<QueryValueReply> DecodeQueryValue(std::string_view stub);

// The subkey's name (UTF-8, without terminating NULs). Failure: the Win32
// status (259 past the last subkey) or malformed bytes.
Result<std::string> DecodeEnumKey(std::string_view stub);

}  // namespace hostlore::winreg
