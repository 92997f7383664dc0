// ICMP endpoints on Linux sockets.
#pragma once

#include <memory>

#include "platform/echo/echo.h"
#include "platform/status.h"

namespace hostlore {

enum class IcmpSocketKind {
  // SOCK_DGRAM/IPPROTO_ICMP: open to the groups in net.ipv4.ping_group_range;
  // the kernel picks the echo identifier and hands us only our own replies,
  // and ICMP errors arrive on the error queue.
  kDatagram,
  // SOCK_RAW/IPPROTO_ICMP: needs CAP_NET_RAW; sees every ICMP message that
  // reaches the host, including our own request on loopback.
  kRaw,
};

// Opens an ICMP endpoint of `kind`; the socket is closed with the handle.
// The handle's SendEcho may be called from any thread, one call at a time.
// Failure: the kernel refuses the socket; the number is win32::kAccessDenied
// when it refuses for lack of permission.
Result<std::unique_ptr<IcmpHandle>> OpenIcmpHandle(IcmpSocketKind kind);

}  // namespace hostlore
