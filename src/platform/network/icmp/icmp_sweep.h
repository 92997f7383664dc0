// The echo sweep on the network: the system resolver, and one ICMP socket
// with many echoes in flight.
#pragma once

#include <memory>

#include "platform/echo/echo_sweep.h"
#include "platform/network/icmp/icmp_socket.h"
#include "platform/status.h"

namespace hostlore {

// Each echo in flight holds a sequence number of the socket's own: beyond
// this many at once, Send answers no reply at once.
inline constexpr size_t kMaxIcmpEchoesInFlight = 65535;

// A sweep that sends `request` from an ICMP datagram socket where
// net.ipv4.ping_group_range lets this process open one, otherwise from a raw
// ICMP socket, and resolves through getaddrinfo (IPv4). A reply counts when
// the kernel received it within the request's timeout of the send, however
// late this process gets to read it. Failure: neither socket opens (the
// description says what is missing).
Result<std::unique_ptr<EchoSweep>> OpenIcmpSweep(const EchoRequest& request);
// The same from a socket of `kind` only.
Result<std::unique_ptr<EchoSweep>> OpenIcmpSweep(const EchoRequest& request, IcmpSocketKind kind);

}  // namespace hostlore
