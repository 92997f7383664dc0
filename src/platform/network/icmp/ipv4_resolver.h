// IPv4 name lookup through the system resolver.
#pragma once

#include <optional>
#include <string>

#include "platform/echo/echo.h"

namespace hostlore {

// The first IPv4 address that getaddrinfo gives for `name` (a host name or a
// dotted address), or nullopt. Text that cannot be a host name (empty, longer
// than a DNS name, holding blanks or control characters) is not looked up.
std::optional<Ipv4Address> ResolveIpv4(const std::string& name);

}  // namespace hostlore
