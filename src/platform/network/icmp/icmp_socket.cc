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

// The extended error is followed by the offender's address (SO_EE_OFFENDER).
std::optional<QueuedIcmpError> ReadExtendedError(const cmsghdr& c, const sockaddr_in& destination) {
  if (c.cmsg_len < CMSG_LEN(sizeof(sock_extended_err) + sizeof(sockaddr_in))) return std::nullopt;
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

class IcmpSocketHandle final : public IcmpHandle {
 public:
  explicit IcmpSocketHandle(IcmpSocket socket)
      : socket_(std::move(socket)), buffer_(kReceiveBufferSize) {}

  EchoReply SendEcho(const Ipv4Address& destination, const EchoRequest& request) override {
    // 0.0.0.0 stands for this host on Linux: an echo there would answer for
    // a target that does not exist.
    if (destination == Ipv4Address{}) return {};
    const EchoMatch match{destination, socket_.identifier, next_sequence_++};
    const SentEcho sent{match, RealTimeNanoseconds(), SteadyClock::now() + request.timeout};
    if (SendEchoRequest(socket_, match, request) != 0) return {};
    return AwaitEchoAnswer(socket_, sent, request.timeout, buffer_);
  }

 private:
  IcmpSocket socket_;
  uint16_t next_sequence_ = 1;
  std::vector<uint8_t> buffer_;
};

// The answer to `sent` among what is waiting on the socket (its error
// queue with `error_queue`), if it arrived within `timeout`.
std::optional<EchoReply> ReadAnswer(const IcmpSocket& socket, const SentEcho& sent,
                                    std::chrono::milliseconds timeout, bool error_queue,
                                    std::vector<uint8_t>& buffer) {
  for (int i = 0; i < kMaxReadsPerWake; ++i) {
    const std::optional<IcmpArrival> arrival = ReceiveIcmp(socket, buffer, error_queue);
    if (!arrival) return std::nullopt;
    std::optional<EchoReply> reply = ReplyTo(socket, *arrival, sent.match);
    if (reply && ArrivedInTime(*arrival, sent.sent_at, timeout)) return reply;
  }
  return std::nullopt;
}

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

Result<IcmpSocket> OpenIcmpSocket(IcmpSocketKind kind) {
  const int type = kind == IcmpSocketKind::kDatagram ? SOCK_DGRAM : SOCK_RAW;
  IcmpSocket opened{UniqueFd(::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP)), kind, 0};
  const int fd = opened.fd.get();
  if (fd < 0) return SocketFailure(errno);
  // Arrivals carry the time the kernel received them, which decides
  // whether a reply came in time, however late it is read.
  const int stamp = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &stamp, sizeof stamp);
  if (kind == IcmpSocketKind::kDatagram) {
    const int on = 1;
    if (::setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof on) != 0) return SocketFailure(errno);
    std::optional<uint16_t> bound = BindDatagramIdentifier(fd);
    if (!bound) return SocketFailure(errno);
    opened.identifier = *bound;
  } else {
    // Only echo replies and the errors that can concern a request get
    // through; other processes' requests, redirects etc. stay out.
    icmp_filter filter{.data = ~((1u << kIcmpEchoReply) | (1u << kIcmpDestinationUnreachable) |
                                 (1u << kIcmpSourceQuench) | (1u << kIcmpTimeExceeded) |
                                 (1u << kIcmpParameterProblem))};
    // Without the filter the parser still sorts everything out.
    ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
    opened.identifier = RandomIdentifier();
  }
  return opened;
}

int SendEchoRequest(const IcmpSocket& socket, const EchoMatch& match, const EchoRequest& request,
                    bool wait) {
  const int ttl = request.ttl;
  if (::setsockopt(socket.fd.get(), IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) != 0) return errno;
  // On a datagram socket the kernel replaces the identifier and checksum.
  const std::vector<uint8_t> message = BuildEchoRequest(match.identifier, match.sequence, request.data);
  const sockaddr_in to = ToSocketAddress(match.destination);
  ssize_t sent;
  do {
    sent = ::sendto(socket.fd.get(), message.data(), message.size(), wait ? 0 : MSG_DONTWAIT,
                    reinterpret_cast<const sockaddr*>(&to), sizeof to);
  } while (sent < 0 && errno == EINTR);
  if (sent < 0) return errno;
  return sent == static_cast<ssize_t>(message.size()) ? 0 : EMSGSIZE;
}

std::optional<IcmpArrival> ReceiveIcmp(const IcmpSocket& socket, std::vector<uint8_t>& buffer,
                                       bool error_queue) {
  if (buffer.size() < kReceiveBufferSize) buffer.resize(kReceiveBufferSize);
  // A read can also return a pending socket error, which it consumes: the
  // next read then finds the message behind it.
  for (int attempt = 0; attempt < 4; ++attempt) {
    sockaddr_in from{};
    alignas(cmsghdr) char control[512];
    iovec data{.iov_base = buffer.data(), .iov_len = buffer.size()};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t size =
        ::recvmsg(socket.fd.get(), &message, MSG_DONTWAIT | (error_queue ? MSG_ERRQUEUE : 0));
    if (size < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || error_queue) return std::nullopt;
      continue;
    }
    IcmpArrival arrival;
    arrival.queued_error = error_queue;
    arrival.bytes = std::span<const uint8_t>(buffer.data(), static_cast<size_t>(size));
    arrival.source = FromSocketAddress(from);
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
      if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS &&
          c->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
        timespec at;
        std::memcpy(&at, CMSG_DATA(c), sizeof at);
        arrival.received = at;
      } else if (error_queue && c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR) {
        // An error of local origin (a failed send) keeps type 0, which
        // matches no request.
        if (std::optional<QueuedIcmpError> error = ReadExtendedError(*c, from)) arrival.error = *error;
      }
    }
    return arrival;
  }
  return std::nullopt;
}

std::optional<uint16_t> AnsweredSequence(const IcmpSocket& socket, const IcmpArrival& arrival) {
  if (arrival.queued_error) {
    // The quoted request starts with its ICMP header.
    if (arrival.bytes.size() < 8 || arrival.bytes[0] != kIcmpEchoRequest) return std::nullopt;
    return static_cast<uint16_t>((arrival.bytes[6] << 8) | arrival.bytes[7]);
  }
  return socket.kind == IcmpSocketKind::kRaw ? AnsweredSequenceInDatagram(arrival.bytes)
                                             : AnsweredSequence(arrival.bytes);
}

std::optional<EchoReply> ReplyTo(const IcmpSocket& socket, const IcmpArrival& arrival,
                                 const EchoMatch& match) {
  if (arrival.queued_error) return MatchQueuedError(arrival.error, arrival.bytes, match);
  return socket.kind == IcmpSocketKind::kRaw ? ParseIpv4Datagram(arrival.bytes, match)
                                             : ParseIcmpMessage(arrival.bytes, arrival.source, match);
}

int64_t RealTimeNanoseconds() {
  timespec now;
  ::clock_gettime(CLOCK_REALTIME, &now);
  return int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
}

bool ArrivedInTime(const IcmpArrival& arrival, int64_t sent_at, std::chrono::milliseconds timeout) {
  const int64_t received = arrival.received ? int64_t{arrival.received->tv_sec} * 1'000'000'000 +
                                                  arrival.received->tv_nsec
                                            : RealTimeNanoseconds();
  return received - sent_at <= std::chrono::nanoseconds(timeout).count();
}

EchoReply AwaitEchoAnswer(const IcmpSocket& socket, const SentEcho& sent,
                          std::chrono::milliseconds timeout, std::vector<uint8_t>& buffer) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(sent.deadline - SteadyClock::now());
    // Past the deadline the socket is still read once, without waiting:
    // a thread that got no processor until then finds the reply that came
    // in time.
    const bool last = left.count() <= 0;
    pollfd ready{.fd = socket.fd.get(), .events = POLLIN, .revents = 0};
    const int count = ::poll(&ready, 1, last ? 0 : static_cast<int>(left.count()));
    if (count < 0 && errno != EINTR) return {};
    if (count > 0) {
      // A raw socket receives the errors themselves as messages; only a
      // datagram socket queues them.
      if (ready.revents & POLLERR) {
        const std::optional<EchoReply> reply = ReadAnswer(socket, sent, timeout, true, buffer);
        ClearPendingError(socket);
        if (reply) return *reply;
      }
      if (ready.revents & POLLIN) {
        if (std::optional<EchoReply> reply = ReadAnswer(socket, sent, timeout, false, buffer)) {
          return *reply;
        }
      }
      if (ready.revents & POLLNVAL) return {};
    }
    if (last) return {};
  }
}

void ClearPendingError(const IcmpSocket& socket) {
  int pending = 0;
  socklen_t pending_size = sizeof pending;
  ::getsockopt(socket.fd.get(), SOL_SOCKET, SO_ERROR, &pending, &pending_size);
}

Result<std::unique_ptr<IcmpHandle>> OpenIcmpHandle(IcmpSocketKind kind) {
  Result<IcmpSocket> socket = OpenIcmpSocket(kind);
  if (!socket.ok()) return socket.status();
  return std::unique_ptr<IcmpHandle>(std::make_unique<IcmpSocketHandle>(std::move(socket).value()));
}

}  // namespace hostlore
