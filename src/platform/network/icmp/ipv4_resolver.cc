#include "platform/network/icmp/ipv4_resolver.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace hostlore {
namespace {

// The longest name DNS can carry, as text.
constexpr size_t kMaxHostNameBytes = 253;

struct FreeAddressInfo {
  void operator()(addrinfo* info) const { ::freeaddrinfo(info); }
};

// Blanks and control characters (NUL included, which would cut the name
// short) never occur in a host name; asking a DNS server about them would
// only leak junk.
bool CanBeHostName(const std::string& name) {
  if (name.empty() || name.size() > kMaxHostNameBytes) return false;
  return std::none_of(name.begin(), name.end(), [](char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7f;
  });
}

}  // namespace

std::optional<Ipv4Address> ResolveIpv4(const std::string& name) {
  if (!CanBeHostName(name)) return std::nullopt;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_DGRAM;  // one entry per address, not one per socket type
  addrinfo* found = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return std::nullopt;
  const std::unique_ptr<addrinfo, FreeAddressInfo> owner(found);
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addrlen < sizeof(sockaddr_in)) continue;
    sockaddr_in socket_address;
    std::memcpy(&socket_address, entry->ai_addr, sizeof socket_address);
    Ipv4Address address;
    std::memcpy(address.data(), &socket_address.sin_addr, address.size());
    return address;
  }
  return std::nullopt;
}

}  // namespace hostlore
