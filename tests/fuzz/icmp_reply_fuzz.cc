// libFuzzer target for the echo reply parser: whatever arrives on an ICMP
// socket, parsing stays inside the received bytes and only ever answers with
// one reply whose address makes sense for it.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

#include "platform/network/icmp/icmp_packet.h"

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace hostlore;
  // The first 8 bytes choose the request to match (destination, identifier,
  // sequence), so that the fuzzer can reach the matching paths.
  if (size < 8) return 0;
  EchoMatch match;
  std::copy_n(data, 4, match.destination.begin());
  match.identifier = static_cast<uint16_t>((data[4] << 8) | data[5]);
  match.sequence = static_cast<uint16_t>((data[6] << 8) | data[7]);
  const std::span<const uint8_t> packet(data + 8, size - 8);

  if (std::optional<EchoReply> reply = ParseIpv4Datagram(packet, match)) {
    Require(reply->replies == 1);
    Require(reply->status != 0 || reply->address == match.destination);
  }
  const Ipv4Address source = match.destination;
  if (std::optional<EchoReply> reply = ParseIcmpMessage(packet, source, match)) {
    Require(reply->replies == 1 && reply->address == source);
  }
  const QueuedIcmpError error{.type = static_cast<uint8_t>(size), .code = data[0],
                              .offender = {}, .destination = match.destination};
  if (std::optional<EchoReply> reply = MatchQueuedError(error, packet, match)) {
    Require(reply->replies == 1 && reply->status != 0);
  }
  return 0;
}
