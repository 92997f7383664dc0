// A DCE/RPC client on a byte pipe: binds one interface, then makes calls,
// one at a time, fragmenting requests and joining response fragments.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/network/dcerpc_pdu.h"
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
  };
  // Makes several calls in one write, then reads their responses in order.
  // Each read takes the rest of one fragment together with the header of
  // the next, so n one-fragment responses cost n + 1 transport reads
  // instead of 2n. (On an SMB pipe each response is a message of its own
  // and one SMB READ never crosses a message boundary, so there the saving
  // is the writes: one instead of n.) One result per request, as Call
  // would give it.
  std::vector<Result<std::string>> CallBatch(const std::vector<Request>& requests);

  bool broken() const { return !broken_.ok(); }
  // Calls made and messages exchanged (each write or read of the
  // transport), for measurements.
  uint64_t calls() const { return calls_; }
  uint64_t transport_operations() const { return operations_; }

 private:
  Result<std::string> ReadFragment();
  // Reads the fragment whose header is `header`; when `chain` is set, also
  // the next fragment's header, into `header`.
  Result<std::string> ReadChained(std::string& header, bool chain);
  Status Break(Status why);

  std::unique_ptr<PduTransport> transport_;
  uint32_t next_call_id_ = 1;
  uint16_t max_send_fragment_ = kMaxFragment;
  Status broken_;
  uint64_t calls_ = 0;
  uint64_t operations_ = 0;
};

}  // namespace hostlore::rpc
