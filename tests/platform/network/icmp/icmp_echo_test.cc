// The network echo against real sockets: loopback, and the test's own
// network namespaces for everything that needs a peer or a router.
#include "platform/network/icmp/icmp_echo.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "platform/network/icmp/echo_responder.h"
#include "platform/network/namespace_pair.h"
#include "platform/network/icmp/icmp_packet.h"
#include "platform/network/icmp/icmp_socket.h"

namespace hostlore {
namespace {

using std::chrono::duration;
using std::chrono::steady_clock;
using testing::NamespacePair;

constexpr Ipv4Address kLoopback{127, 0, 0, 1};

// nullptr, with the reason, when this process may not send ICMP at all:
// then there is nothing to test.
std::unique_ptr<IcmpHandle> OpenHandle(Echo& echo, std::string& why_not) {
  Result<std::unique_ptr<IcmpHandle>> handle = echo.CreateIcmpHandle();
  if (!handle.ok()) {
    why_not = handle.status().description();
    return nullptr;
  }
  return std::move(handle).value();
}

TEST(NetworkEchoTest, LoopbackAnswersFromItsAddressOnEveryEcho) {
  std::unique_ptr<Echo> echo = NewNetworkEcho();
  std::string why_not;
  std::unique_ptr<IcmpHandle> handle = OpenHandle(*echo, why_not);
  if (handle == nullptr) GTEST_SKIP() << why_not;
  // The second echo on one handle must be matched by its own sequence.
  for (int i = 0; i < 2; ++i) {
    const EchoReply reply = handle->SendEcho(kLoopback, EchoRequest{});
    EXPECT_EQ(reply.replies, 1u);
    EXPECT_EQ(reply.status, ip_status::kSuccess);
    EXPECT_EQ(FormatDottedAddress(reply.address), "127.0.0.1");
  }
}

TEST(NetworkEchoTest, UnspecifiedAddressIsNeverEchoed) {
  // Linux would deliver an echo to 0.0.0.0 to this host; nothing may go out,
  // so there is nothing to wait for either.
  std::unique_ptr<Echo> echo = NewNetworkEcho();
  std::string why_not;
  std::unique_ptr<IcmpHandle> handle = OpenHandle(*echo, why_not);
  if (handle == nullptr) GTEST_SKIP() << why_not;
  const steady_clock::time_point start = steady_clock::now();
  const EchoReply reply = handle->SendEcho(Ipv4Address{}, EchoRequest{});
  EXPECT_EQ(reply.replies, 0u);
  EXPECT_LT(duration<double>(steady_clock::now() - start).count(), 1.0);
}

// Capabilities belong to a thread: dropping CAP_NET_RAW here leaves the
// rest of the test program as it was.
bool DropNetRawOnThisThread() {
  __user_cap_header_struct header{.version = _LINUX_CAPABILITY_VERSION_3, .pid = 0};
  __user_cap_data_struct data[2]{};
  if (::syscall(SYS_capget, &header, data) != 0) return false;
  data[CAP_NET_RAW / 32].effective &= ~(1u << (CAP_NET_RAW % 32));
  return ::syscall(SYS_capset, &header, data) == 0;
}

TEST(NetworkEchoTest, HandleFailsOnlyWithoutAnyPermission) {
  bool dropped = false;
  bool datagram_allowed = false;
  Result<std::unique_ptr<IcmpHandle>> handle = Status::Failure(0, "not tried");
  std::thread without_raw([&] {
    dropped = DropNetRawOnThisThread();
    if (!dropped) return;
    datagram_allowed = OpenIcmpHandle(IcmpSocketKind::kDatagram).ok();
    handle = NewNetworkEcho()->CreateIcmpHandle();
  });
  without_raw.join();
  if (!dropped) GTEST_SKIP() << "cannot drop CAP_NET_RAW";
  if (datagram_allowed) {
    // Then the datagram socket alone must do.
    EXPECT_TRUE(handle.ok()) << handle.status().description();
    GTEST_SKIP() << "net.ipv4.ping_group_range admits this process";
  }
  ASSERT_FALSE(handle.ok());
  EXPECT_EQ(handle.status().number(), win32::kAccessDenied);
  EXPECT_EQ(handle.status().description(),
            "no permission to send ICMP (need CAP_NET_RAW or net.ipv4.ping_group_range)");
}

TEST(NetworkEchoTest, ResolvesLocalNamesAndDottedAddresses) {
  std::unique_ptr<Echo> echo = NewNetworkEcho();
  EXPECT_EQ(echo->Resolve("localhost"), kLoopback);
  EXPECT_EQ(echo->Resolve("127.0.0.1"), kLoopback);
  EXPECT_EQ(echo->Resolve("10.1.2.30"), (Ipv4Address{10, 1, 2, 30}));
}

TEST(NetworkEchoTest, TextThatCannotBeAHostNameDoesNotResolve) {
  // None of these is looked up, so no resolver is asked.
  std::unique_ptr<Echo> echo = NewNetworkEcho();
  EXPECT_EQ(echo->Resolve(""), std::nullopt);
  EXPECT_EQ(echo->Resolve("   "), std::nullopt);
  EXPECT_EQ(echo->Resolve("local host"), std::nullopt);
  EXPECT_EQ(echo->Resolve(" localhost"), std::nullopt);
  EXPECT_EQ(echo->Resolve(std::string("localhost\0.example", 18)), std::nullopt);
  EXPECT_EQ(echo->Resolve(std::string(300, 'a')), std::nullopt);
}

class EchoInNamespacesTest : public ::testing::TestWithParam<IcmpSocketKind> {
 protected:
  void SetUp() override {
    std::string why_not;
    pair_ = NamespacePair::Create(why_not);
    if (pair_ == nullptr) GTEST_SKIP() << why_not;
  }

  // A handle of the parameter's kind, opened inside the client namespace.
  std::unique_ptr<IcmpHandle> OpenInClient() {
    std::unique_ptr<IcmpHandle> handle;
    const bool entered = pair_->InClient([&] {
      Result<std::unique_ptr<IcmpHandle>> opened = OpenIcmpHandle(GetParam());
      EXPECT_TRUE(opened.ok()) << opened.status().description();
      if (opened.ok()) handle = std::move(opened).value();
    });
    EXPECT_TRUE(entered) << "cannot enter the client namespace";
    return handle;
  }

  // Skips unless an echo to `address` stays inside the test's namespaces.
  void RequireOwnRoute(const Ipv4Address& address) {
    if (!pair_->LeavesThroughOwnVeth(address)) {
      GTEST_SKIP() << FormatDottedAddress(address) << " does not leave through the test's veth";
    }
  }

  std::unique_ptr<NamespacePair> pair_;
};

TEST_P(EchoInNamespacesTest, PeerAnswers) {
  RequireOwnRoute(testing::kPeerAddress);
  std::unique_ptr<IcmpHandle> handle = OpenInClient();
  ASSERT_NE(handle, nullptr);
  const EchoReply reply = handle->SendEcho(testing::kPeerAddress, EchoRequest{});
  EXPECT_EQ(reply.replies, 1u);
  EXPECT_EQ(reply.status, ip_status::kSuccess);
  EXPECT_EQ(reply.address, testing::kPeerAddress);
}

TEST_P(EchoInNamespacesTest, VacantAddressGivesNoReplyAfterTheTimeout) {
  RequireOwnRoute(testing::kVacantAddress);
  std::unique_ptr<IcmpHandle> handle = OpenInClient();
  ASSERT_NE(handle, nullptr);
  const steady_clock::time_point start = steady_clock::now();
  const EchoReply reply = handle->SendEcho(testing::kVacantAddress, EchoRequest{});
  const duration<double> waited = steady_clock::now() - start;
  EXPECT_EQ(reply.replies, 0u);
  EXPECT_GE(waited.count(), 1.9);
  EXPECT_LT(waited.count(), 10.0);
}

TEST_P(EchoInNamespacesTest, RouterReportsUnreachableHost) {
  RequireOwnRoute(testing::kUnreachableHost);
  std::unique_ptr<IcmpHandle> handle = OpenInClient();
  ASSERT_NE(handle, nullptr);
  const EchoReply reply = handle->SendEcho(testing::kUnreachableHost, EchoRequest{});
  EXPECT_EQ(reply.replies, 1u);
  EXPECT_EQ(reply.status, ip_status::kDestHostUnreachable);
  EXPECT_EQ(reply.address, testing::kPeerAddress);
}

TEST_P(EchoInNamespacesTest, RouterReportsExpiredTimeToLive) {
  RequireOwnRoute(testing::kBeyondPeer);
  std::unique_ptr<IcmpHandle> handle = OpenInClient();
  ASSERT_NE(handle, nullptr);
  EchoRequest request;
  request.ttl = 1;
  const EchoReply reply = handle->SendEcho(testing::kBeyondPeer, request);
  EXPECT_EQ(reply.replies, 1u);
  EXPECT_EQ(reply.status, ip_status::kTtlExpiredTransit);
  EXPECT_EQ(reply.address, testing::kPeerAddress);
}

TEST_P(EchoInNamespacesTest, SendWithoutRouteIsNoReplyAtOnce) {
  ASSERT_TRUE(pair_->HasNoRouteTo(testing::kNoRouteHost));
  std::unique_ptr<IcmpHandle> handle = OpenInClient();
  ASSERT_NE(handle, nullptr);
  const steady_clock::time_point start = steady_clock::now();
  const EchoReply reply = handle->SendEcho(testing::kNoRouteHost, EchoRequest{});
  EXPECT_EQ(reply.replies, 0u);
  EXPECT_LT(duration<double>(steady_clock::now() - start).count(), 1.0);
}

// A thread that gets no processor until after its deadline (an agent on a
// starved host) must still find the reply that came in time, and only that.
TEST_P(EchoInNamespacesTest, ReplyReadAfterTheDeadlineCountsWhenItCameInTime) {
  constexpr Ipv4Address kPrompt{10, 213, 3, 10};
  constexpr Ipv4Address kSlow{10, 213, 3, 11};  // answers after 300 ms
  RequireOwnRoute(kPrompt);
  RequireOwnRoute(kSlow);
  std::string why_not;
  const auto responder = testing::EchoResponder::Start(
      *pair_, {{kPrompt, std::chrono::milliseconds(0)}, {kSlow, std::chrono::milliseconds(300)}}, why_not);
  ASSERT_NE(responder, nullptr) << why_not;
  std::optional<IcmpSocket> socket;
  ASSERT_TRUE(pair_->InClient([&] {
    Result<IcmpSocket> opened = OpenIcmpSocket(GetParam());
    if (opened.ok()) socket = std::move(opened).value();
  }));
  ASSERT_TRUE(socket.has_value());
  EchoRequest request;
  request.timeout = std::chrono::milliseconds(200);
  std::vector<uint8_t> buffer;
  uint16_t sequence = 1;
  for (const Ipv4Address& destination : {kPrompt, kSlow}) {
    const SentEcho sent{{destination, socket->identifier, sequence++}, RealTimeNanoseconds(),
                        steady_clock::now() + request.timeout};
    ASSERT_EQ(SendEchoRequest(*socket, sent.match, request), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    const EchoReply reply = AwaitEchoAnswer(*socket, sent, request.timeout, buffer);
    EXPECT_EQ(reply.replies, destination == kPrompt ? 1u : 0u) << FormatDottedAddress(destination);
  }
}

// While one handle waits for a silent address, another keeps drawing echo
// replies and ICMP errors from the same peer: a raw socket sees all of them,
// and none may be taken for the answer.
TEST_P(EchoInNamespacesTest, OtherEchoesAndErrorsAreNotTheAnswer) {
  RequireOwnRoute(testing::kBeyondPeer);
  RequireOwnRoute(testing::kUnreachableHost);
  std::unique_ptr<IcmpHandle> waiting = OpenInClient();
  std::unique_ptr<IcmpHandle> busy = OpenInClient();
  ASSERT_NE(waiting, nullptr);
  ASSERT_NE(busy, nullptr);
  EchoReply waited_for;
  std::thread waiter([&] { waited_for = waiting->SendEcho(testing::kBeyondPeer, EchoRequest{}); });
  EchoRequest quick;
  quick.timeout = std::chrono::milliseconds(200);
  int answered = 0;
  for (int i = 0; i < 5; ++i) {
    answered += busy->SendEcho(testing::kPeerAddress, quick).replies;
    answered += busy->SendEcho(testing::kUnreachableHost, quick).replies;
  }
  waiter.join();
  EXPECT_GT(answered, 5);  // the noise was really there
  EXPECT_EQ(waited_for.replies, 0u);
}

}  // namespace

void PrintTo(IcmpSocketKind kind, std::ostream* out) {
  *out << (kind == IcmpSocketKind::kDatagram ? "datagram socket" : "raw socket");
}

namespace {

INSTANTIATE_TEST_SUITE_P(SocketKinds, EchoInNamespacesTest,
                         ::testing::Values(IcmpSocketKind::kDatagram, IcmpSocketKind::kRaw),
                         [](const ::testing::TestParamInfo<IcmpSocketKind>& info) {
                           return info.param == IcmpSocketKind::kDatagram ? "Datagram" : "Raw";
                         });

class ResolverInNamespaceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why_not;
    pair_ = NamespacePair::Create(why_not);
    if (pair_ == nullptr) GTEST_SKIP() << why_not;
  }

  std::unique_ptr<NamespacePair> pair_;
};

TEST_F(ResolverInNamespaceTest, NamesThatNoResolverKnowsDoNotResolve) {
  // Without a default route the client reaches no name server, so these
  // lookups fail without a packet leaving the test's namespaces.
  ASSERT_FALSE(pair_->HasDefaultRoute());
  std::unique_ptr<Echo> echo = NewNetworkEcho();
  std::optional<Ipv4Address> unknown = kLoopback;
  std::optional<Ipv4Address> non_ascii = kLoopback;
  std::optional<Ipv4Address> local;
  ASSERT_TRUE(pair_->InClient([&] {
    unknown = echo->Resolve("no-such-host.invalid");
    non_ascii = echo->Resolve("r\xC3\xA9seau-\xE4\xB8\xAD.invalid");
    local = echo->Resolve("localhost");
  }));
  EXPECT_EQ(unknown, std::nullopt);
  EXPECT_EQ(non_ascii, std::nullopt);
  EXPECT_EQ(local, kLoopback);
}

}  // namespace
}  // namespace hostlore
