// ICMP sockets on Linux: opening one, sending an echo request on it, and
// taking what arrives. The agent's one echo at a time (OpenIcmpHandle) and
// the sweep's many (icmp_sweep.h) are both built on these.
#pragma once

#include <chrono>
#include <ctime>
#include <memory>
#include <optional>
#include <span>
#include <vector>

#include "platform/echo/echo.h"
#include "platform/network/icmp/icmp_packet.h"
#include "platform/status.h"
#include "util/unique_fd.h"

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

// An open ICMP socket and the identifier that its echo requests carry.
struct IcmpSocket {
  UniqueFd fd;
  IcmpSocketKind kind = IcmpSocketKind::kDatagram;
  uint16_t identifier = 0;
};

// Opens a socket of `kind`: a datagram socket is bound (which gives it its
// identifier) and queues ICMP errors (IP_RECVERR); a raw socket lets only
// echo replies and the errors that can concern a request through.
// Failure: the kernel refuses the socket; the number is win32::kAccessDenied
// when it refuses for lack of permission.
Result<IcmpSocket> OpenIcmpSocket(IcmpSocketKind kind);

// Sends the echo request of `match` (its identifier, sequence and
// destination) carrying request.data with request.ttl; without `wait`,
// EAGAIN rather than waiting for room in the send buffer. Returns 0, or the
// errno of the send that failed.
int SendEchoRequest(const IcmpSocket& socket, const EchoMatch& match, const EchoRequest& request,
                    bool wait = true);

// One thing taken from a socket: a message, or an error that the kernel
// queued about one of our requests.
struct IcmpArrival {
  bool queued_error = false;
  // A message: the ICMP message (datagram socket) or the whole IPv4
  // datagram (raw socket). A queued error: the start of our request that
  // failed, as the error quoted it.
  std::span<const uint8_t> bytes;
  Ipv4Address source{};   // who sent the message
  QueuedIcmpError error;  // the queued error
  // When the kernel received it (CLOCK_REALTIME), where SO_TIMESTAMPNS is on.
  std::optional<timespec> received;
};

// Takes the next message, or with `error_queue` the next queued error,
// without waiting; `buffer` holds its bytes until the next call. nullopt:
// nothing is waiting.
std::optional<IcmpArrival> ReceiveIcmp(const IcmpSocket& socket, std::vector<uint8_t>& buffer,
                                       bool error_queue);

// The sequence of the request that `arrival` may answer: a hint to find the
// request among many; ReplyTo decides.
std::optional<uint16_t> AnsweredSequence(const IcmpSocket& socket, const IcmpArrival& arrival);

// The reply that `arrival` is to the request `match`; nullopt when it is
// about something else.
std::optional<EchoReply> ReplyTo(const IcmpSocket& socket, const IcmpArrival& arrival,
                                 const EchoMatch& match);

// The time now on the clock that the kernel stamps arrivals with
// (CLOCK_REALTIME), in nanoseconds.
int64_t RealTimeNanoseconds();

// True when `arrival` (an answer to a request sent at `sent_at`, from
// RealTimeNanoseconds) was received within `timeout` of it.
bool ArrivedInTime(const IcmpArrival& arrival, int64_t sent_at, std::chrono::milliseconds timeout);

// An echo request on its way: what answers it, when it was sent, and the
// moment (sent_at + timeout on the steady clock) after which no more is
// waited for it.
struct SentEcho {
  EchoMatch match;
  int64_t sent_at = 0;  // RealTimeNanoseconds()
  std::chrono::steady_clock::time_point deadline;
};

// Waits for the answer to `sent` until its deadline, then reads once more
// what has arrived: a reply that the kernel received within `timeout`
// counts however late this thread gets to read it. No reply: replies 0.
EchoReply AwaitEchoAnswer(const IcmpSocket& socket, const SentEcho& sent,
                          std::chrono::milliseconds timeout, std::vector<uint8_t>& buffer);

// Reading the error queue leaves the error pending on the socket as well;
// this clears it, so that poll does not report it again.
void ClearPendingError(const IcmpSocket& socket);

// An ICMP endpoint of `kind` for one echo at a time; the socket is closed
// with the handle. The handle's SendEcho may be called from any thread, one
// call at a time. Failure: as OpenIcmpSocket.
Result<std::unique_ptr<IcmpHandle>> OpenIcmpHandle(IcmpSocketKind kind);

}  // namespace hostlore
