#include "platform/network/icmp/echo_responder.h"

#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>

#include <cstdlib>
#include <cstring>

#include "platform/network/icmp/icmp_packet.h"

namespace hostlore::testing {
namespace {

using Clock = std::chrono::steady_clock;

sockaddr_in SocketAddress(const Ipv4Address& address) {
  sockaddr_in socket_address{};
  socket_address.sin_family = AF_INET;
  std::memcpy(&socket_address.sin_addr, address.data(), address.size());
  return socket_address;
}

struct Reply {
  int fd;
  sockaddr_in to;
  std::vector<uint8_t> message;
};

}  // namespace

std::unique_ptr<EchoResponder> EchoResponder::Start(const NamespacePair& pair,
                                                    const std::map<Ipv4Address, std::chrono::milliseconds>& delays,
                                                    std::string& why_not) {
  const std::string peer = pair.peer_namespace();
  std::string commands = "ip netns exec " + peer + " sh -c 'echo 1 > /proc/sys/net/ipv4/icmp_echo_ignore_all'";
  for (const auto& [address, delay] : delays) {
    commands += " && ip -n " + peer + " addr add " + FormatDottedAddress(address) + "/32 dev lo";
  }
  if (std::system((commands + " >/dev/null 2>&1").c_str()) != 0) {
    why_not = "cannot give the peer its addresses: " + commands;
    return nullptr;
  }
  std::unique_ptr<EchoResponder> responder(new EchoResponder());
  // A raw socket bound to an address sees the requests for it and sends
  // from it.
  const bool entered = pair.InPeer([&] {
    for (const auto& [address, delay] : delays) {
      UniqueFd fd(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP));
      const sockaddr_in bound = SocketAddress(address);
      if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&bound), sizeof bound) != 0) return;
      responder->sockets_.emplace_back(std::move(fd), delay);
    }
  });
  if (!entered || responder->sockets_.size() != delays.size()) {
    why_not = "cannot open the responder's sockets in the peer namespace";
    return nullptr;
  }
  responder->stop_ = UniqueFd(::eventfd(0, EFD_CLOEXEC));
  responder->thread_ = std::thread([raw = responder.get()] { raw->Serve(); });
  return responder;
}

EchoResponder::~EchoResponder() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(stop_.get(), &one, sizeof one);
  if (thread_.joinable()) thread_.join();
}

void EchoResponder::Serve() {
  std::multimap<Clock::time_point, Reply> due;
  std::vector<uint8_t> buffer(65536);
  for (;;) {
    std::vector<pollfd> fds = {{stop_.get(), POLLIN, 0}};
    for (const auto& [fd, delay] : sockets_) fds.push_back({fd.get(), POLLIN, 0});
    int wait = -1;
    if (!due.empty()) {
      wait = static_cast<int>(std::max<int64_t>(
          0, std::chrono::ceil<std::chrono::milliseconds>(due.begin()->first - Clock::now()).count()));
    }
    ::poll(fds.data(), fds.size(), wait);
    if (fds[0].revents & POLLIN) return;
    for (size_t i = 0; i < sockets_.size(); ++i) {
      if (!(fds[i + 1].revents & POLLIN)) continue;
      sockaddr_in from{};
      socklen_t from_size = sizeof from;
      const ssize_t size = ::recvfrom(sockets_[i].first.get(), buffer.data(), buffer.size(), MSG_DONTWAIT,
                                      reinterpret_cast<sockaddr*>(&from), &from_size);
      const size_t header = size > 0 ? static_cast<size_t>(buffer[0] & 0x0f) * 4 : 0;
      if (size <= 0 || static_cast<size_t>(size) < header + 8 || buffer[header] != kIcmpEchoRequest) continue;
      Reply reply{sockets_[i].first.get(), from,
                  std::vector<uint8_t>(buffer.begin() + static_cast<std::ptrdiff_t>(header), buffer.begin() + size)};
      reply.message[0] = kIcmpEchoReply;
      reply.message[2] = reply.message[3] = 0;
      const uint16_t checksum = InternetChecksum(reply.message);
      reply.message[2] = static_cast<uint8_t>(checksum >> 8);
      reply.message[3] = static_cast<uint8_t>(checksum);
      due.emplace(Clock::now() + sockets_[i].second, std::move(reply));
    }
    while (!due.empty() && due.begin()->first <= Clock::now()) {
      const Reply& reply = due.begin()->second;
      ::sendto(reply.fd, reply.message.data(), reply.message.size(), 0,
               reinterpret_cast<const sockaddr*>(&reply.to), sizeof reply.to);
      due.erase(due.begin());
    }
  }
}

}  // namespace hostlore::testing
