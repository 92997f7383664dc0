#include "platform/network/icmp/icmp_echo.h"

#include "platform/network/icmp/icmp_socket.h"
#include "platform/network/icmp/ipv4_resolver.h"

namespace hostlore {
namespace {

class NetworkEcho final : public Echo {
 public:
  std::optional<Ipv4Address> Resolve(const std::string& name) override {
    return ResolveIpv4(name);
  }

  Result<std::unique_ptr<IcmpHandle>> CreateIcmpHandle() override {
    Result<std::unique_ptr<IcmpHandle>> datagram = OpenIcmpHandle(IcmpSocketKind::kDatagram);
    if (datagram.ok()) return datagram;
    // The raw socket is the last resort: its failure says what is missing.
    return OpenIcmpHandle(IcmpSocketKind::kRaw);
  }
};

}  // namespace

std::unique_ptr<Echo> NewNetworkEcho() { return std::make_unique<NetworkEcho>(); }

}  // namespace hostlore
