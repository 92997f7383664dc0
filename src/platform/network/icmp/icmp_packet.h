// ICMP echo messages as bytes: building the request and recognising the
// answer to it among everything an ICMP socket receives. Pure functions, no
// system calls, so that every packet shape can be tested with crafted bytes.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/echo/echo.h"

namespace hostlore {

inline constexpr uint8_t kIcmpEchoReply = 0;
inline constexpr uint8_t kIcmpDestinationUnreachable = 3;
inline constexpr uint8_t kIcmpSourceQuench = 4;
inline constexpr uint8_t kIcmpEchoRequest = 8;
inline constexpr uint8_t kIcmpTimeExceeded = 11;
inline constexpr uint8_t kIcmpParameterProblem = 12;

// The IP_* status numbers that Windows reports for an echo (IcmpSendEcho).
namespace ip_status {
inline constexpr uint32_t kSuccess = 0;
inline constexpr uint32_t kDestNetUnreachable = 11002;
inline constexpr uint32_t kDestHostUnreachable = 11003;
inline constexpr uint32_t kDestProtocolUnreachable = 11004;
inline constexpr uint32_t kDestPortUnreachable = 11005;
inline constexpr uint32_t kPacketTooBig = 11009;
inline constexpr uint32_t kBadRoute = 11012;
inline constexpr uint32_t kTtlExpiredTransit = 11013;
inline constexpr uint32_t kTtlExpiredReassembly = 11014;
inline constexpr uint32_t kParameterProblem = 11015;
inline constexpr uint32_t kSourceQuench = 11016;
}  // namespace ip_status

// The Internet checksum (RFC 1071) of `bytes`, ready to be stored in network
// order. A message whose checksum field is right sums to 0.
uint16_t InternetChecksum(std::span<const uint8_t> bytes);

// An ICMP echo request (type 8, code 0) carrying `data`, checksum filled in.
std::vector<uint8_t> BuildEchoRequest(uint16_t identifier, uint16_t sequence,
                                      std::string_view data);

// What identifies the answer to one request that we sent.
struct EchoMatch {
  Ipv4Address destination{};
  uint16_t identifier = 0;
  uint16_t sequence = 0;
};

// The Windows status that stands for an ICMP error message, or nullopt for a
// message that does not report the failure of a datagram (echo, redirect,
// timestamp, unknown types).
std::optional<uint32_t> IcmpErrorStatus(uint8_t type, uint8_t code);

// An ICMP message without IP header (as an ICMP datagram socket receives it)
// that came from `source`. Returns the reply it stands for when it is either
// the echo reply to `match` sent by its destination, or an ICMP error that
// quotes our request (status from IcmpErrorStatus, address = the router that
// reported it). nullopt for anything else: truncated messages, other
// identifiers or sequences, requests, errors about someone else's datagram.
// The checksum is not examined: callers check it where the kernel has not.
std::optional<EchoReply> ParseIcmpMessage(std::span<const uint8_t> message,
                                          const Ipv4Address& source,
                                          const EchoMatch& match);

// A whole IPv4 datagram as a raw ICMP socket receives it: header, then the
// ICMP message, whose checksum must be right. Same answer as ParseIcmpMessage.
std::optional<EchoReply> ParseIpv4Datagram(std::span<const uint8_t> datagram,
                                           const EchoMatch& match);

// The sequence number of the echo request that `message` (an ICMP message
// without IP header) can be the answer to: an echo reply's own, or that of
// the request an ICMP error quotes. nullopt for anything else. Only a hint
// for finding the request among many in flight: ParseIcmpMessage decides.
std::optional<uint16_t> AnsweredSequence(std::span<const uint8_t> message);

// The same for a whole IPv4 datagram as a raw ICMP socket receives it.
std::optional<uint16_t> AnsweredSequenceInDatagram(std::span<const uint8_t> datagram);

// An ICMP error that the kernel queued on an ICMP datagram socket (IP_RECVERR).
struct QueuedIcmpError {
  uint8_t type = 0;
  uint8_t code = 0;
  // The router (or host) that reported the error.
  Ipv4Address offender{};
  // Where the datagram that failed was going.
  Ipv4Address destination{};
};

// The reply that a queued error stands for when it concerns our request:
// `original` is the start of the ICMP message that failed, as the error
// quoted it. nullopt when the error is about another request.
std::optional<EchoReply> MatchQueuedError(const QueuedIcmpError& error,
                                          std::span<const uint8_t> original,
                                          const EchoMatch& match);

}  // namespace hostlore
