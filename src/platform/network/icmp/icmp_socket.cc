#include "platform/network/icmp/icmp_socket.h"

#include <arpa/inet.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "platform/network/icmp/icmp_packet.h"
#include "util/unique_fd.h"

namespace hostlore {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr int64_t kGeneralFailure = 31;  // ERROR_GEN_FAILURE
// Room for the largest IPv4 datagram.
constexpr size_t kReceiveBufferSize = 65536;
// Reads per wake-up before the deadline is looked at again, so that a flood
// of other processes' ICMP cannot hold the echo past its timeout.
constexpr int kMaxReadsPerWake = 64;

sockaddr_in ToSocketAddress(const Ipv4Address& address) {
  sockaddr_in socket_address{};
  socket_address.sin_family = AF_INET;
  std::memcpy(&socket_address.sin_addr, address.data(), address.size());
  return socket_address;
}

Ipv4Address FromSocketAddress(const sockaddr_in& socket_address) {
  Ipv4Address address;
  std::memcpy(address.data(), &socket_address.sin_addr, address.size());
  return address;
}

class IcmpSocketHandle final : public IcmpHandle {
 public:
  IcmpSocketHandle(UniqueFd fd, IcmpSocketKind kind, uint16_t identifier)
      : fd_(std::move(fd)), kind_(kind), identifier_(identifier), buffer_(kReceiveBufferSize) {}

  EchoReply SendEcho(const Ipv4Address& destination, const EchoRequest& request) override {
    // 0.0.0.0 stands for this host on Linux: an echo there would answer for
    // a target that does not exist.
    if (destination == Ipv4Address{}) return {};
    const SteadyClock::time_point deadline = SteadyClock::now() + request.timeout;
    const EchoMatch match{destination, identifier_, next_sequence_++};
    if (!Send(match, request)) return {};
    return AwaitAnswer(match, deadline);
  }

 private:
  bool Send(const EchoMatch& match, const EchoRequest& request) {
    const int ttl = request.ttl;
    if (::setsockopt(fd_.get(), IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) != 0) return false;
    // On a datagram socket the kernel replaces the identifier and checksum.
    const std::vector<uint8_t> message =
        BuildEchoRequest(match.identifier, match.sequence, request.data);
    const sockaddr_in to = ToSocketAddress(match.destination);
    ssize_t sent;
    do {
      sent = ::sendto(fd_.get(), message.data(), message.size(), 0,
                      reinterpret_cast<const sockaddr*>(&to), sizeof to);
    } while (sent < 0 && errno == EINTR);
    return sent == static_cast<ssize_t>(message.size());
  }

  EchoReply AwaitAnswer(const EchoMatch& match, SteadyClock::time_point deadline) {
    for (;;) {
      const SteadyClock::time_point now = SteadyClock::now();
      if (now >= deadline) return {};
      const auto wait = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
      pollfd ready{.fd = fd_.get(), .events = POLLIN, .revents = 0};
      const int count = ::poll(&ready, 1, static_cast<int>(wait.count()));
      if (count < 0 && errno != EINTR) return {};
      if (count <= 0) continue;
      if (ready.revents & POLLERR) {
        if (std::optional<EchoReply> reply = ReadQueuedErrors(match)) return *reply;
      }
      if (ready.revents & POLLIN) {
        if (std::optional<EchoReply> reply = ReadReceived(match)) return *reply;
      }
      if (ready.revents & POLLNVAL) return {};
    }
  }

  std::optional<EchoReply> ReadReceived(const EchoMatch& match) {
    for (int i = 0; i < kMaxReadsPerWake; ++i) {
      sockaddr_in from{};
      socklen_t from_size = sizeof from;
      const ssize_t size = ::recvfrom(fd_.get(), buffer_.data(), buffer_.size(), MSG_DONTWAIT,
                                      reinterpret_cast<sockaddr*>(&from), &from_size);
      if (size < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) return std::nullopt;
        continue;  // a pending socket error, now consumed
      }
      const std::span<const uint8_t> received(buffer_.data(), static_cast<size_t>(size));
      const std::optional<EchoReply> reply =
          kind_ == IcmpSocketKind::kRaw
              ? ParseIpv4Datagram(received, match)
              : ParseIcmpMessage(received, FromSocketAddress(from), match);
      if (reply) return reply;
    }
    return std::nullopt;
  }

  // ICMP errors about what a datagram socket sent (IP_RECVERR). A raw socket
  // receives the errors themselves as messages; its error queue stays empty.
  std::optional<EchoReply> ReadQueuedErrors(const EchoMatch& match) {
    std::optional<EchoReply> answer;
    for (int i = 0; i < kMaxReadsPerWake && !answer; ++i) {
      sockaddr_in destination{};
      alignas(cmsghdr) char control[256];
      iovec data{.iov_base = buffer_.data(), .iov_len = buffer_.size()};
      msghdr message{};
      message.msg_name = &destination;
      message.msg_namelen = sizeof destination;
      message.msg_iov = &data;
      message.msg_iovlen = 1;
      message.msg_control = control;
      message.msg_controllen = sizeof control;
      const ssize_t size = ::recvmsg(fd_.get(), &message, MSG_ERRQUEUE | MSG_DONTWAIT);
      if (size < 0) break;
      const std::span<const uint8_t> original(buffer_.data(), static_cast<size_t>(size));
      for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr && !answer;
           c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR) continue;
        std::optional<QueuedIcmpError> error = ReadExtendedError(*c, destination);
        if (error) answer = MatchQueuedError(*error, original, match);
      }
    }
    // The error also sits in the socket's pending error; clear it so that
    // poll does not report it again.
    int pending = 0;
    socklen_t pending_size = sizeof pending;
    ::getsockopt(fd_.get(), SOL_SOCKET, SO_ERROR, &pending, &pending_size);
    return answer;
  }

  // The extended error is followed by the offender's address (SO_EE_OFFENDER).
  static std::optional<QueuedIcmpError> ReadExtendedError(const cmsghdr& c,
                                                          const sockaddr_in& destination) {
    if (c.cmsg_len < CMSG_LEN(sizeof(sock_extended_err) + sizeof(sockaddr_in))) {
      return std::nullopt;
    }
    sock_extended_err extended;
    std::memcpy(&extended, CMSG_DATA(&c), sizeof extended);
    if (extended.ee_origin != SO_EE_ORIGIN_ICMP) return std::nullopt;
    sockaddr_in offender;
    std::memcpy(&offender, CMSG_DATA(&c) + sizeof extended, sizeof offender);
    return QueuedIcmpError{.type = extended.ee_type,
                           .code = extended.ee_code,
                           .offender = FromSocketAddress(offender),
                           .destination = FromSocketAddress(destination)};
  }

  UniqueFd fd_;
  IcmpSocketKind kind_;
  uint16_t identifier_;
  uint16_t next_sequence_ = 1;
  std::vector<uint8_t> buffer_;
};

Status SocketFailure(int error) {
  if (error == EACCES || error == EPERM) {
    return Status::Failure(
        win32::kAccessDenied,
        "no permission to send ICMP (need CAP_NET_RAW or net.ipv4.ping_group_range)");
  }
  return Status::Failure(kGeneralFailure,
                         std::string("cannot open an ICMP socket: ") + std::strerror(error));
}

// The kernel gives a datagram socket its identifier when it is bound.
std::optional<uint16_t> BindDatagramIdentifier(int fd) {
  sockaddr_in any{};
  any.sin_family = AF_INET;
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&any), sizeof any) != 0) return std::nullopt;
  sockaddr_in bound{};
  socklen_t bound_size = sizeof bound;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &bound_size) != 0) {
    return std::nullopt;
  }
  return ntohs(bound.sin_port);
}

uint16_t RandomIdentifier() {
  std::random_device random;
  return static_cast<uint16_t>(random());
}

}  // namespace

Result<std::unique_ptr<IcmpHandle>> OpenIcmpHandle(IcmpSocketKind kind) {
  const int type = kind == IcmpSocketKind::kDatagram ? SOCK_DGRAM : SOCK_RAW;
  UniqueFd fd(::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP));
  if (fd.get() < 0) return SocketFailure(errno);

  uint16_t identifier;
  if (kind == IcmpSocketKind::kDatagram) {
    const int on = 1;
    if (::setsockopt(fd.get(), IPPROTO_IP, IP_RECVERR, &on, sizeof on) != 0) {
      return SocketFailure(errno);
    }
    std::optional<uint16_t> bound = BindDatagramIdentifier(fd.get());
    if (!bound) return SocketFailure(errno);
    identifier = *bound;
  } else {
    // Only echo replies and the errors that can concern a request get
    // through; other processes' requests, redirects etc. stay out.
    icmp_filter filter{.data = ~((1u << kIcmpEchoReply) | (1u << kIcmpDestinationUnreachable) |
                                 (1u << kIcmpSourceQuench) | (1u << kIcmpTimeExceeded) |
                                 (1u << kIcmpParameterProblem))};
    // Without the filter the parser still sorts everything out.
    ::setsockopt(fd.get(), SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    identifier = RandomIdentifier();
  }
  return std::unique_ptr<IcmpHandle>(
      std::make_unique<IcmpSocketHandle>(std::move(fd), kind, identifier));
}

}  // namespace hostlore
