// The reachability seam: IPv4 name lookup and one ICMP echo.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/status.h"

namespace hostlore {

// An IPv4 address, its four bytes in network (memory) order.
using Ipv4Address = std::array<uint8_t, 4>;

// "a.b.c.d", each byte in decimal without leading zeros.
std::string FormatDottedAddress(const Ipv4Address& address);

struct EchoRequest {
  uint8_t ttl = 255;
  std::string data = std::string(32, 'A');
  std::chrono::milliseconds timeout{2000};
};

struct EchoReply {
  // Number of replies received: 0 when nothing came back within the timeout.
  uint32_t replies = 0;
  // ICMP status of the first reply: 0 for an echo reply, otherwise the
  // Windows IP_* status that stands for the ICMP error that came back
  // (11003 host unreachable, 11013 time to live expired, ...).
  uint32_t status = 0;
  // The address that sent the first reply.
  Ipv4Address address{};
};

// An open ICMP endpoint. Closed when destroyed.
class IcmpHandle {
 public:
  IcmpHandle() = default;
  IcmpHandle(const IcmpHandle&) = delete;
  IcmpHandle& operator=(const IcmpHandle&) = delete;
  virtual ~IcmpHandle() = default;

  // Sends one echo request to `destination` and waits up to request.timeout
  // for its answer. Never fails: a send that cannot go out is no reply.
  virtual EchoReply SendEcho(const Ipv4Address& destination,
                             const EchoRequest& request) = 0;
};

class Echo {
 public:
  Echo() = default;
  Echo(const Echo&) = delete;
  Echo& operator=(const Echo&) = delete;
  virtual ~Echo() = default;

  // The first IPv4 address of `name` (a host name or dotted address), or
  // nullopt when it does not resolve. Safe for any text.
  virtual std::optional<Ipv4Address> Resolve(const std::string& name) = 0;

  // Opens an ICMP endpoint. Fails when this process may not send ICMP at all.
  virtual Result<std::unique_ptr<IcmpHandle>> CreateIcmpHandle() = 0;
};

}  // namespace hostlore
