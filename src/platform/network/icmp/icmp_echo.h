// The echo seam on the network: the system resolver and a Linux ICMP socket.
#pragma once

#include <memory>

#include "platform/echo/echo.h"

namespace hostlore {

// Resolves through getaddrinfo (IPv4 only). Each ICMP handle is a datagram
// ICMP socket where net.ipv4.ping_group_range lets this process open one,
// otherwise a raw ICMP socket; CreateIcmpHandle fails only when neither opens.
std::unique_ptr<Echo> NewNetworkEcho();

}  // namespace hostlore
