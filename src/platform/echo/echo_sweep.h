// The reachability seam for a whole fleet: name lookup, and the agent's echo
// sent to many targets at once from one endpoint.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/echo/echo.h"

namespace hostlore {

// The answer to one echo of a sweep.
struct SweepAnswer {
  uint64_t tag = 0;  // as given to Send
  // As IcmpHandle::SendEcho would have answered: no reply within the
  // request's timeout (or an echo that could not go out) has replies 0.
  EchoReply reply;
};

// Sends one and the same EchoRequest (the agent's: TTL 255, 32 bytes of "A",
// 2000 ms) to any number of destinations and follows their answers. Send,
// Collect, WaitFd and NextTimeout belong to one thread; Resolve may be
// called from other threads at the same time.
class EchoSweep {
 public:
  EchoSweep() = default;
  EchoSweep(const EchoSweep&) = delete;
  EchoSweep& operator=(const EchoSweep&) = delete;
  virtual ~EchoSweep() = default;

  // The first IPv4 address of `name`, as the agent's Echo::Resolve finds it;
  // nullopt when it does not resolve. May block (a name server's answer).
  virtual std::optional<Ipv4Address> Resolve(const std::string& name) = 0;

  // Sends the echo to `destination`. Collect answers it exactly once, with
  // `tag`: when its reply arrives, or once the request's timeout has passed
  // since this call. The unspecified address 0.0.0.0 is never sent to (it
  // stands for this host) and is answered as no reply at once. Never blocks:
  // false when the endpoint can take no more just now (the kernel holds
  // too many requests still waiting for their way out); nothing was sent
  // then, and the caller tries again a little later.
  virtual bool Send(const Ipv4Address& destination, uint64_t tag) = 0;

  // The answers due now, each echo's once.
  virtual std::vector<SweepAnswer> Collect() = 0;

  // A descriptor that becomes readable when Collect may have answers;
  // -1 when there is none to wait on.
  virtual int WaitFd() const = 0;
  // When Collect will have an answer at the latest even if WaitFd stays
  // quiet (the oldest echo's timeout; now, when answers are already due);
  // nullopt while no echo is in flight.
  virtual std::optional<std::chrono::steady_clock::time_point> NextTimeout() const = 0;

  // Echoes sent and not yet answered.
  virtual size_t InFlight() const = 0;
};

}  // namespace hostlore
