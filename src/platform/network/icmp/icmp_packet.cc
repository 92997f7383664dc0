#include "platform/network/icmp/icmp_packet.h"

#include <algorithm>

namespace hostlore {
namespace {

constexpr size_t kIcmpHeaderSize = 8;
constexpr size_t kMinIpv4HeaderSize = 20;
constexpr uint8_t kProtocolIcmp = 1;

// Callers have checked that `offset + 2 <= bytes.size()`.
uint16_t ReadBigEndian16(std::span<const uint8_t> bytes, size_t offset) {
  return static_cast<uint16_t>((bytes[offset] << 8) | bytes[offset + 1]);
}

Ipv4Address ReadAddress(std::span<const uint8_t> bytes, size_t offset) {
  Ipv4Address address;
  std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(offset), address.size(),
              address.begin());
  return address;
}

bool IsOurEcho(std::span<const uint8_t> icmp, uint8_t type, const EchoMatch& match) {
  return icmp.size() >= kIcmpHeaderSize && icmp[0] == type &&
         ReadBigEndian16(icmp, 4) == match.identifier &&
         ReadBigEndian16(icmp, 6) == match.sequence;
}

// The length of a plausible IPv4 header at the start of `bytes`, or 0.
size_t Ipv4HeaderLength(std::span<const uint8_t> bytes) {
  if (bytes.size() < kMinIpv4HeaderSize || (bytes[0] >> 4) != 4) return 0;
  const size_t length = static_cast<size_t>(bytes[0] & 0x0f) * 4;
  if (length < kMinIpv4HeaderSize || length > bytes.size()) return 0;
  return length;
}

// An ICMP error quotes the IPv4 header of the datagram that failed and at
// least the first 8 bytes of its payload: for our request, its ICMP header.
bool QuotesOurRequest(std::span<const uint8_t> quoted, const EchoMatch& match) {
  const size_t header = Ipv4HeaderLength(quoted);
  if (header == 0 || quoted[9] != kProtocolIcmp) return false;
  if (ReadAddress(quoted, 16) != match.destination) return false;
  return IsOurEcho(quoted.subspan(header), kIcmpEchoRequest, match);
}

}  // namespace

uint16_t InternetChecksum(std::span<const uint8_t> bytes) {
  uint32_t sum = 0;
  size_t i = 0;
  for (; i + 1 < bytes.size(); i += 2) sum += ReadBigEndian16(bytes, i);
  if (i < bytes.size()) sum += static_cast<uint32_t>(bytes[i]) << 8;
  while (sum >> 16) sum = (sum & 0xffff) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

std::vector<uint8_t> BuildEchoRequest(uint16_t identifier, uint16_t sequence,
                                      std::string_view data) {
  std::vector<uint8_t> message(kIcmpHeaderSize + data.size());
  message[0] = kIcmpEchoRequest;
  message[4] = static_cast<uint8_t>(identifier >> 8);
  message[5] = static_cast<uint8_t>(identifier);
  message[6] = static_cast<uint8_t>(sequence >> 8);
  message[7] = static_cast<uint8_t>(sequence);
  std::copy(data.begin(), data.end(), message.begin() + kIcmpHeaderSize);
  const uint16_t checksum = InternetChecksum(message);
  message[2] = static_cast<uint8_t>(checksum >> 8);
  message[3] = static_cast<uint8_t>(checksum);
  return message;
}

std::optional<uint32_t> IcmpErrorStatus(uint8_t type, uint8_t code) {
  switch (type) {
    case kIcmpDestinationUnreachable:
      switch (code) {
        case 0:   // network unreachable
        case 6:   // destination network unknown
        case 9:   // network administratively prohibited
        case 11:  // network unreachable for type of service
          return ip_status::kDestNetUnreachable;
        case 2:
          return ip_status::kDestProtocolUnreachable;
        case 3:
          return ip_status::kDestPortUnreachable;
        case 4:  // fragmentation needed but "don't fragment" set
          return ip_status::kPacketTooBig;
        case 5:  // source route failed
          return ip_status::kBadRoute;
        default:  // host unreachable, unknown, prohibited, and codes to come
          return ip_status::kDestHostUnreachable;
      }
    case kIcmpTimeExceeded:
      return code == 1 ? ip_status::kTtlExpiredReassembly : ip_status::kTtlExpiredTransit;
    case kIcmpParameterProblem:
      return ip_status::kParameterProblem;
    case kIcmpSourceQuench:
      return ip_status::kSourceQuench;
    default:
      return std::nullopt;
  }
}

std::optional<EchoReply> ParseIcmpMessage(std::span<const uint8_t> message,
                                          const Ipv4Address& source,
                                          const EchoMatch& match) {
  if (message.size() < kIcmpHeaderSize) return std::nullopt;
  if (message[0] == kIcmpEchoReply) {
    if (source != match.destination || !IsOurEcho(message, kIcmpEchoReply, match)) {
      return std::nullopt;
    }
    return EchoReply{.replies = 1, .status = ip_status::kSuccess, .address = source};
  }
  const std::optional<uint32_t> status = IcmpErrorStatus(message[0], message[1]);
  if (!status || !QuotesOurRequest(message.subspan(kIcmpHeaderSize), match)) {
    return std::nullopt;
  }
  return EchoReply{.replies = 1, .status = *status, .address = source};
}

std::optional<EchoReply> ParseIpv4Datagram(std::span<const uint8_t> datagram,
                                           const EchoMatch& match) {
  const size_t header = Ipv4HeaderLength(datagram);
  if (header == 0 || datagram[9] != kProtocolIcmp) return std::nullopt;
  // Bytes past the datagram's own total length are link padding; a total
  // length beyond what arrived means the datagram was cut short.
  const size_t total = ReadBigEndian16(datagram, 2);
  if (total < header || total > datagram.size()) return std::nullopt;
  const std::span<const uint8_t> icmp = datagram.subspan(header, total - header);
  if (icmp.size() < kIcmpHeaderSize || InternetChecksum(icmp) != 0) return std::nullopt;
  return ParseIcmpMessage(icmp, ReadAddress(datagram, 12), match);
}

std::optional<uint16_t> AnsweredSequence(std::span<const uint8_t> message) {
  if (message.size() < kIcmpHeaderSize) return std::nullopt;
  if (message[0] == kIcmpEchoReply) return ReadBigEndian16(message, 6);
  if (!IcmpErrorStatus(message[0], message[1])) return std::nullopt;
  const std::span<const uint8_t> quoted = message.subspan(kIcmpHeaderSize);
  const size_t header = Ipv4HeaderLength(quoted);
  if (header == 0 || quoted.size() < header + kIcmpHeaderSize) return std::nullopt;
  return ReadBigEndian16(quoted, header + 6);
}

std::optional<uint16_t> AnsweredSequenceInDatagram(std::span<const uint8_t> datagram) {
  const size_t header = Ipv4HeaderLength(datagram);
  if (header == 0 || datagram[9] != kProtocolIcmp) return std::nullopt;
  return AnsweredSequence(datagram.subspan(header));
}

std::optional<EchoReply> MatchQueuedError(const QueuedIcmpError& error,
                                          std::span<const uint8_t> original,
                                          const EchoMatch& match) {
  const std::optional<uint32_t> status = IcmpErrorStatus(error.type, error.code);
  if (!status || error.destination != match.destination ||
      !IsOurEcho(original, kIcmpEchoRequest, match)) {
    return std::nullopt;
  }
  return EchoReply{.replies = 1, .status = *status, .address = error.offender};
}

}  // namespace hostlore
