// The winreg calls on a bound channel: single calls, and batches of calls
// sent in one exchange (keys opened ahead, values of several keys, closes
// put off to the next exchange).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/network/rpc/rpc_channel.h"
#include "platform/network/rpc/winreg_messages.h"

namespace hostlore::winreg {

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
  // Saves `key` and its subtree to the server's file `path`.
  Status SaveKey(const rpc::ContextHandle& key, std::string_view path);

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
