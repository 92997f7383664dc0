// The winreg RPC interface, for the calls the registry seam needs: open a
// hive, open a key, query a value, enumerate subkeys, close. The encoders
// and decoders are pure so that tests and the fuzz target reach them
// without a server.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/network/ndr.h"
#include "platform/network/rpc_channel.h"
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

// A reply that carries a handle and a Win32 status (open and close calls).
// Failure: the status when it is not 0, or malformed bytes.
Result<rpc::ContextHandle> DecodeHandleReply(std::string_view stub);

struct QueryValueReply {
  uint32_t status = 0;  // Win32 code: 0, 2, 234 (buffer too small), ...
  RegistryValue value;
  uint32_t size_needed = 0;
};
Result<QueryValueReply> DecodeQueryValue(std::string_view stub);

// The subkey's name (UTF-8, without terminating NULs). Failure: the Win32
// status (259 past the last subkey) or malformed bytes.
Result<std::string> DecodeEnumKey(std::string_view stub);

// The calls, on a bound winreg channel.
class WinregClient {
 public:
  explicit WinregClient(std::unique_ptr<rpc::RpcChannel> channel)
      : channel_(std::move(channel)) {}

  Result<rpc::ContextHandle> OpenHive(Hive hive, uint32_t access);
  Result<rpc::ContextHandle> OpenKey(const rpc::ContextHandle& parent, std::string_view path,
                                     uint32_t access);
  // The keys `paths` below `parent`, in one exchange.
  std::vector<Result<rpc::ContextHandle>> OpenKeys(const rpc::ContextHandle& parent,
                                                   const std::vector<std::string>& paths,
                                                   uint32_t access);
  Result<RegistryValue> QueryValue(const rpc::ContextHandle& key, std::string_view name);
  Result<std::string> EnumKey(const rpc::ContextHandle& key, uint32_t index);
  Status CloseKey(const rpc::ContextHandle& key);

  struct WantedValue {
    std::string name;
    bool expected = true;  // likely to exist (a key like this one has it)
  };
  // The values `wanted` of each of `keys`, in one exchange, each as
  // QueryValue would give it: result[k][i] is value i of key k. A key's
  // expected names travel together in one QueryMultipleValues call; the
  // others are asked one by one, and so are the expected ones when that
  // call fails (one is missing after all, or the server does not offer it).
  std::vector<std::vector<Result<RegistryValue>>> QueryValues(
      const std::vector<rpc::ContextHandle>& keys, const std::vector<WantedValue>& wanted);
  // Subkeys `first` to `first + count - 1`, in one exchange.
  std::vector<Result<std::string>> EnumKeys(const rpc::ContextHandle& key, uint32_t first,
                                            uint32_t count);
  // Closes `key` with the next exchange instead of one of its own.
  void CloseLater(const rpc::ContextHandle& key) { pending_closes_.push_back(key); }
  // Sends the closes put off so far.
  void FlushCloses() {
    if (!pending_closes_.empty()) Exchange(std::vector<rpc::RpcChannel::Request>{});
  }

  const rpc::RpcChannel& channel() const { return *channel_; }

 private:
  // Every exchange goes through here, led by the closes put off so far.
  std::vector<Result<std::string>> Exchange(std::vector<rpc::RpcChannel::Request> requests);
  Result<std::string> Exchange(uint16_t opnum, std::string stub);

  // The values asked together in one QueryMultipleValues reply; failure:
  // the call's own.
  Result<std::vector<RegistryValue>> MultipleValuesFromReply(const Result<std::string>& reply,
                                                             size_t count);

  std::unique_ptr<rpc::RpcChannel> channel_;
  std::vector<rpc::ContextHandle> pending_closes_;
  bool multiple_values_ = true;  // false once the server refused the call
  uint32_t multiple_buffer_ = 1024;  // bytes offered for values asked together
};

}  // namespace hostlore::winreg
