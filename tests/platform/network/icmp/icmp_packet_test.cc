// Recognising the answer to an echo among crafted ICMP messages.
#include "platform/network/icmp/icmp_packet.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace hostlore {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr Ipv4Address kUs{10, 0, 0, 1};
constexpr Ipv4Address kTarget{10, 0, 0, 9};
constexpr Ipv4Address kRouter{10, 0, 0, 254};
constexpr EchoMatch kMatch{.destination = kTarget, .identifier = 0x1234, .sequence = 7};

void StoreChecksum(Bytes& icmp) {
  icmp[2] = icmp[3] = 0;
  const uint16_t checksum = InternetChecksum(icmp);
  icmp[2] = static_cast<uint8_t>(checksum >> 8);
  icmp[3] = static_cast<uint8_t>(checksum);
}

Bytes EchoMessage(uint8_t type, uint16_t identifier = kMatch.identifier,
           uint16_t sequence = kMatch.sequence) {
  Bytes icmp = BuildEchoRequest(identifier, sequence, std::string(32, 'A'));
  icmp[0] = type;
  StoreChecksum(icmp);
  return icmp;
}

// An IPv4 header with `option_words` words of options, then `payload`.
Bytes Ipv4(const Ipv4Address& source, const Ipv4Address& destination, const Bytes& payload,
           uint8_t protocol = 1, size_t option_words = 0) {
  const size_t header = 20 + 4 * option_words;
  Bytes datagram(header, 0);
  datagram[0] = static_cast<uint8_t>(0x40 | (header / 4));
  datagram[2] = static_cast<uint8_t>((header + payload.size()) >> 8);
  datagram[3] = static_cast<uint8_t>(header + payload.size());
  datagram[8] = 64;
  datagram[9] = protocol;
  std::copy(source.begin(), source.end(), datagram.begin() + 12);
  std::copy(destination.begin(), destination.end(), datagram.begin() + 16);
  datagram.insert(datagram.end(), payload.begin(), payload.end());
  return datagram;
}

// An ICMP error quoting `failed` the way routers do: its IP header and the
// first 8 bytes of what followed.
Bytes IcmpError(uint8_t type, uint8_t code, const Bytes& failed) {
  const size_t header = static_cast<size_t>(failed[0] & 0x0f) * 4;
  Bytes icmp = {type, code, 0, 0, 0, 0, 0, 0};
  icmp.insert(icmp.end(), failed.begin(),
              failed.begin() + static_cast<std::ptrdiff_t>(std::min(failed.size(), header + 8)));
  StoreChecksum(icmp);
  return icmp;
}

Bytes OurRequest() { return Ipv4(kUs, kTarget, EchoMessage(kIcmpEchoRequest)); }

TEST(IcmpPacketTest, ChecksumFollowsRfc1071) {
  // The worked example of RFC 1071, section 3, padded to an odd length.
  EXPECT_EQ(InternetChecksum(Bytes{0x00, 0x01, 0xf2, 0x03, 0xf4, 0xf5, 0xf6, 0xf7}), 0x220d);
  EXPECT_EQ(InternetChecksum(Bytes{0x00, 0x01, 0xf2}), static_cast<uint16_t>(~0xf201));
  const Bytes request = BuildEchoRequest(0xbeef, 0x0102, std::string(32, 'A'));
  ASSERT_EQ(request.size(), 40u);
  EXPECT_EQ(request[0], kIcmpEchoRequest);
  EXPECT_EQ(request[4], 0xbe);
  EXPECT_EQ(request[7], 0x02);
  EXPECT_EQ(request[39], 'A');
  EXPECT_EQ(InternetChecksum(request), 0);
}

TEST(IcmpPacketTest, EchoReplyFromTheTargetIsSuccess) {
  const std::optional<EchoReply> raw = ParseIpv4Datagram(Ipv4(kTarget, kUs, EchoMessage(0)), kMatch);
  ASSERT_TRUE(raw.has_value());
  EXPECT_EQ(raw->replies, 1u);
  EXPECT_EQ(raw->status, ip_status::kSuccess);
  EXPECT_EQ(raw->address, kTarget);

  const std::optional<EchoReply> datagram = ParseIcmpMessage(EchoMessage(0), kTarget, kMatch);
  ASSERT_TRUE(datagram.has_value());
  EXPECT_EQ(datagram->status, ip_status::kSuccess);
  EXPECT_EQ(datagram->address, kTarget);
}

TEST(IcmpPacketTest, OtherEchoTrafficIsIgnored) {
  EXPECT_FALSE(ParseIpv4Datagram(Ipv4(kTarget, kUs, EchoMessage(0, 0x4321)), kMatch));
  EXPECT_FALSE(ParseIpv4Datagram(Ipv4(kTarget, kUs, EchoMessage(0, kMatch.identifier, 6)), kMatch));
  EXPECT_FALSE(ParseIpv4Datagram(Ipv4(kRouter, kUs, EchoMessage(0)), kMatch));
  // Our own request, as a raw socket sees it on loopback.
  EXPECT_FALSE(ParseIpv4Datagram(OurRequest(), kMatch));
  EXPECT_FALSE(ParseIcmpMessage(EchoMessage(kIcmpEchoRequest), kTarget, kMatch));
  // Not ICMP at all.
  EXPECT_FALSE(ParseIpv4Datagram(Ipv4(kTarget, kUs, EchoMessage(0), 17), kMatch));
}

TEST(IcmpPacketTest, DamagedDatagramsAreIgnored) {
  const Bytes good = Ipv4(kTarget, kUs, EchoMessage(0));
  for (size_t size = 0; size < good.size(); ++size) {
    EXPECT_FALSE(ParseIpv4Datagram(std::span(good.data(), size), kMatch)) << size;
  }
  Bytes corrupted = good;
  corrupted.back() ^= 0x01;
  EXPECT_FALSE(ParseIpv4Datagram(corrupted, kMatch));
  Bytes ipv6 = good;
  ipv6[0] = 0x65;
  EXPECT_FALSE(ParseIpv4Datagram(ipv6, kMatch));
  Bytes short_header = good;
  short_header[0] = 0x44;
  EXPECT_FALSE(ParseIpv4Datagram(short_header, kMatch));
  // Link padding past the datagram's total length is not part of it.
  Bytes padded = good;
  padded.insert(padded.end(), 6, 0xff);
  EXPECT_TRUE(ParseIpv4Datagram(padded, kMatch));
  // IP options move the ICMP message.
  EXPECT_TRUE(ParseIpv4Datagram(Ipv4(kTarget, kUs, EchoMessage(0), 1, 2), kMatch));
}

TEST(IcmpPacketTest, ErrorAboutOurRequestCarriesStatusAndRouter) {
  const std::optional<EchoReply> unreachable =
      ParseIpv4Datagram(Ipv4(kRouter, kUs, IcmpError(3, 1, OurRequest())), kMatch);
  ASSERT_TRUE(unreachable.has_value());
  EXPECT_EQ(unreachable->replies, 1u);
  EXPECT_EQ(unreachable->status, ip_status::kDestHostUnreachable);
  EXPECT_EQ(unreachable->address, kRouter);

  const std::optional<EchoReply> expired =
      ParseIcmpMessage(IcmpError(11, 0, OurRequest()), kRouter, kMatch);
  ASSERT_TRUE(expired.has_value());
  EXPECT_EQ(expired->status, ip_status::kTtlExpiredTransit);
  EXPECT_EQ(expired->address, kRouter);

  // A quoted header with options still leads to our ICMP header.
  const Bytes with_options = Ipv4(kUs, kTarget, EchoMessage(kIcmpEchoRequest), 1, 3);
  EXPECT_TRUE(ParseIcmpMessage(IcmpError(3, 0, with_options), kRouter, kMatch));
}

TEST(IcmpPacketTest, ErrorsAboutOtherDatagramsAreIgnored) {
  const Bytes others = Ipv4(kUs, kTarget, EchoMessage(kIcmpEchoRequest, 0x4321));
  EXPECT_FALSE(ParseIcmpMessage(IcmpError(3, 1, others), kRouter, kMatch));
  const Bytes elsewhere = Ipv4(kUs, kRouter, EchoMessage(kIcmpEchoRequest));
  EXPECT_FALSE(ParseIcmpMessage(IcmpError(3, 1, elsewhere), kRouter, kMatch));
  const Bytes udp = Ipv4(kUs, kTarget, EchoMessage(kIcmpEchoRequest), 17);
  EXPECT_FALSE(ParseIcmpMessage(IcmpError(3, 3, udp), kRouter, kMatch));
  // A redirect quotes our request too, but the request has not failed.
  EXPECT_FALSE(ParseIcmpMessage(IcmpError(5, 1, OurRequest()), kRouter, kMatch));

  // A quote that stops inside our ICMP header identifies nothing.
  const Bytes full = IcmpError(3, 1, OurRequest());
  for (size_t size = 0; size < full.size(); ++size) {
    EXPECT_FALSE(ParseIcmpMessage(std::span(full.data(), size), kRouter, kMatch)) << size;
  }
}

TEST(IcmpPacketTest, QueuedErrorMustConcernOurRequest) {
  const Bytes original = EchoMessage(kIcmpEchoRequest);
  const QueuedIcmpError error{.type = 3, .code = 1, .offender = kRouter, .destination = kTarget};
  const std::optional<EchoReply> reply = MatchQueuedError(error, original, kMatch);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->replies, 1u);
  EXPECT_EQ(reply->status, ip_status::kDestHostUnreachable);
  EXPECT_EQ(reply->address, kRouter);

  QueuedIcmpError elsewhere = error;
  elsewhere.destination = kRouter;
  EXPECT_FALSE(MatchQueuedError(elsewhere, original, kMatch));
  EXPECT_FALSE(MatchQueuedError(error, EchoMessage(kIcmpEchoRequest, kMatch.identifier, 8), kMatch));
  EXPECT_FALSE(MatchQueuedError(error, std::span(original.data(), 7), kMatch));
  QueuedIcmpError redirect = error;
  redirect.type = 5;
  EXPECT_FALSE(MatchQueuedError(redirect, original, kMatch));
}

}  // namespace
}  // namespace hostlore
