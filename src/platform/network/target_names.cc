#include "platform/network/target_names.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <memory>

namespace hostlore {
namespace {

struct FreeAddressInfo {
  void operator()(addrinfo* info) const { ::freeaddrinfo(info); }
};

// Whether `name` resolves to `address` among its IPv4 addresses.
bool ResolvesTo(const std::string& name, const in_addr& address) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0) return false;
  const std::unique_ptr<addrinfo, FreeAddressInfo> owner(found);
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET || entry->ai_addrlen < sizeof(sockaddr_in)) continue;
    sockaddr_in socket_address;
    std::memcpy(&socket_address, entry->ai_addr, sizeof socket_address);
    if (socket_address.sin_addr.s_addr == address.s_addr) return true;
  }
  return false;
}

// The reverse-lookup name of `address`, or empty text.
std::string ReverseName(const in_addr& address) {
  sockaddr_in socket_address{};
  socket_address.sin_family = AF_INET;
  socket_address.sin_addr = address;
  char name[NI_MAXHOST] = {};
  if (::getnameinfo(reinterpret_cast<const sockaddr*>(&socket_address), sizeof socket_address,
                    name, sizeof name, nullptr, 0, NI_NAMEREQD) != 0) {
    return {};
  }
  return name;
}

class NotingEcho final : public Echo {
 public:
  NotingEcho(std::unique_ptr<Echo> echo, std::shared_ptr<TargetNames> names)
      : echo_(std::move(echo)), names_(std::move(names)) {}

  std::optional<Ipv4Address> Resolve(const std::string& name) override {
    names_->Noted(name);
    return echo_->Resolve(name);
  }
  Result<std::unique_ptr<IcmpHandle>> CreateIcmpHandle() override {
    return echo_->CreateIcmpHandle();
  }

 private:
  std::unique_ptr<Echo> echo_;
  std::shared_ptr<TargetNames> names_;
};

}  // namespace

bool IsDottedAddress(const std::string& text) {
  in_addr parsed{};
  // inet_pton takes exactly four decimal parts, each 0 to 255.
  return ::inet_pton(AF_INET, text.c_str(), &parsed) == 1;
}

void TargetNames::Noted(const std::string& name) {
  if (name.empty() || IsDottedAddress(name)) return;
  if (std::find(noted_.begin(), noted_.end(), name) == noted_.end()) noted_.push_back(name);
}

const std::string& TargetNames::NameFor(const std::string& host) {
  if (auto found = names_.find(host); found != names_.end()) return found->second;
  std::string& name = names_[host];
  in_addr address{};
  if (::inet_pton(AF_INET, host.c_str(), &address) != 1) {
    name = host;
    return name;
  }
  // The latest name first: it is the one this target was looked up by.
  for (auto it = noted_.rbegin(); it != noted_.rend(); ++it) {
    if (ResolvesTo(*it, address)) {
      name = *it;
      return name;
    }
  }
  if (std::string reverse = ReverseName(address); !reverse.empty() && ResolvesTo(reverse, address)) {
    name = std::move(reverse);
  }
  return name;
}

std::unique_ptr<Echo> NotingLookups(std::unique_ptr<Echo> echo,
                                    std::shared_ptr<TargetNames> names) {
  return std::make_unique<NotingEcho>(std::move(echo), std::move(names));
}

}  // namespace hostlore
