// A DCE/RPC client on a byte pipe: binds one interface, then makes calls,
// one at a time, fragmenting requests and joining response fragments.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/network/rpc/dcerpc_pdu.h"
#include "platform/status.h"

namespace hostlore::rpc {

// What a channel writes to and reads from: a named pipe in production, a
// script of crafted replies in tests.
class PduTransport {
 public:
  PduTransport() = default;
  PduTransport(const PduTransport&) = delete;
  PduTransport& operator=(const PduTransport&) = delete;
  virtual ~PduTransport() = default;

  // Writes all of `bytes` as one message.
  virtual Status Write(std::string_view bytes) = 0;
  // Reads exactly `count` bytes into `out` (replacing its content).
  virtual Status Read(size_t count, std::string& out) = 0;
};

class RpcChannel {
 public:
  // Binds `interface_id` on `transport`. Failure: the transport's, or the
  // bind refused (win32::kRpcServerUnavailable).
  static Result<std::unique_ptr<RpcChannel>> Bind(std::unique_ptr<PduTransport> transport,
                                                  const SyntaxId& interface_id);

  explicit RpcChannel(std::unique_ptr<PduTransport> transport)
      : transport_(std::move(transport)) {}
  RpcChannel(const RpcChannel&) = delete;
  RpcChannel& operator=(const RpcChannel&) = delete;

  // Calls operation `opnum` with the NDR `stub`; the response's stub data
  // on success. Failure: a fault (its status as number), the transport's
  // failure, or a malformed reply. After a transport failure or a
  // malformed reply the channel is broken: every later call fails at once.
  Result<std::string> Call(uint16_t opnum, std::string_view stub);

  struct Request {
    uint16_t opnum;
    std::string stub;
    // Requests of one operation with the same key tend to get replies of
    // one length (the same value name of sibling keys, say); the channel
    // reads best when it can guess that length.
    uint64_t size_key = 0;
  };
  // Makes several calls in one write, then reads their responses in order;
  // one result per request, as Call would give it.
  //
  // A transport read waits until it has every byte it asked for, so a read
  // never asks for more than is certain to come: the rest of the fragments
  // whose headers have been seen, and the smallest possible reply for each
  // call not yet answered. On an SMB pipe each response is a message of its
  // own and one SMB READ returns at most one message, so a read that ends
  // exactly where a response ends is the cheapest: the length of the last
  // reply to the same operation and size key is the guess for the next.
  std::vector<Result<std::string>> CallBatch(const std::vector<Request>& requests);

  bool broken() const { return !broken_.ok(); }
  // Calls made and messages exchanged (each write or read of the
  // transport), for measurements.
  uint64_t calls() const { return calls_; }
  uint64_t transport_operations() const { return operations_; }

 private:
  // The next whole fragment, while the replies to `calls_left` calls
  // (counting the one being assembled) are still to come; `expected` is
  // its likely length (0: no idea).
  Result<std::string> NextFragment(size_t calls_left, size_t expected);
  Status Break(Status why);

  std::unique_ptr<PduTransport> transport_;
  uint32_t next_call_id_ = 1;
  uint16_t max_send_fragment_ = kMaxFragment;
  std::string received_;  // read but not yet taken; empty between calls
  // The last reply's first fragment length, by operation and size key.
  std::map<std::pair<uint16_t, uint64_t>, size_t> reply_sizes_;
  Status broken_;
  uint64_t calls_ = 0;
  uint64_t operations_ = 0;
};

}  // namespace hostlore::rpc
