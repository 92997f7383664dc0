// Many echoes from one socket against the test's own network namespaces:
// every echo is answered once, as the agent's single echo would be, and a
// reply counts when it arrived within the 2000 ms, however late it is read.
#include "platform/network/icmp/icmp_sweep.h"

#include <gtest/gtest.h>
#include <poll.h>

#include <map>
#include <thread>

#include "platform/network/icmp/echo_responder.h"
#include "platform/network/namespace_pair.h"

namespace hostlore {

void PrintTo(IcmpSocketKind kind, std::ostream* out);  // icmp_echo_test.cc

namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;
using testing::NamespacePair;

constexpr Ipv4Address kAnswering{10, 213, 3, 10};
constexpr Ipv4Address kJustInTime{10, 213, 3, 40};  // answers after 1900 ms
constexpr Ipv4Address kJustTooLate{10, 213, 3, 41};  // answers after 2100 ms
constexpr Ipv4Address kSilent{10, 213, 3, 77};

class IcmpSweepTest : public ::testing::TestWithParam<IcmpSocketKind> {};

TEST_P(IcmpSweepTest, EveryEchoIsAnsweredOnceAsTheAgentsWouldBe) {
  std::string why_not;
  std::unique_ptr<NamespacePair> pair = NamespacePair::Create(why_not);
  if (pair == nullptr) GTEST_SKIP() << why_not;
  const std::vector<Ipv4Address> routed = {kAnswering, kJustInTime, kJustTooLate, kSilent, testing::kUnreachableHost};
  ASSERT_TRUE(pair->AllLeaveThroughOwnVeth(routed));
  ASSERT_TRUE(pair->HasNoRouteTo(testing::kNoRouteHost));
  const auto responder = testing::EchoResponder::Start(
      *pair, {{kAnswering, milliseconds(0)}, {kJustInTime, milliseconds(1900)}, {kJustTooLate, milliseconds(2100)}},
      why_not);
  ASSERT_NE(responder, nullptr) << why_not;
  std::unique_ptr<EchoSweep> sweep;
  ASSERT_TRUE(pair->InClient([&] {
    Result<std::unique_ptr<EchoSweep>> opened = OpenIcmpSweep(EchoRequest{}, GetParam());
    ASSERT_TRUE(opened.ok()) << opened.status().description();
    sweep = std::move(opened).value();
  }));
  ASSERT_NE(sweep, nullptr);

  const std::vector<Ipv4Address> destinations = {kAnswering, kJustInTime, kJustTooLate, kSilent,
                                                 testing::kUnreachableHost, testing::kNoRouteHost, Ipv4Address{}};
  const steady_clock::time_point start = steady_clock::now();
  // The router's error about the first echo is waiting on the socket when
  // the others are sent: it must not be taken for their failure.
  EXPECT_TRUE(sweep->Send(destinations[4], 4));
  std::this_thread::sleep_for(milliseconds(300));
  for (size_t tag = 0; tag < destinations.size(); ++tag) {
    if (tag != 4) {
      EXPECT_TRUE(sweep->Send(destinations[tag], tag));
    }
  }
  std::map<uint64_t, std::vector<std::pair<EchoReply, double>>> answers;
  while (sweep->InFlight() > 0 || answers.size() < destinations.size()) {
    const auto until = sweep->NextTimeout().value_or(steady_clock::now() + milliseconds(100));
    pollfd ready{sweep->WaitFd(), POLLIN, 0};
    ::poll(&ready, 1, static_cast<int>(std::max<int64_t>(0, std::chrono::ceil<milliseconds>(until - steady_clock::now()).count())));
    for (const SweepAnswer& answer : sweep->Collect()) {
      answers[answer.tag].emplace_back(answer.reply,
                                       std::chrono::duration<double>(steady_clock::now() - start).count());
    }
    ASSERT_LT(steady_clock::now() - start, std::chrono::seconds(10));
  }
  for (const auto& [tag, got] : answers) EXPECT_EQ(got.size(), 1u) << "echo " << tag;
  const auto reply = [&](size_t tag) { return answers[tag].front().first; };
  const auto seconds = [&](size_t tag) { return answers[tag].front().second; };
  EXPECT_EQ(reply(0).replies, 1u);
  EXPECT_EQ(reply(0).status, 0u);
  EXPECT_EQ(reply(0).address, kAnswering);
  EXPECT_EQ(reply(1).replies, 1u) << "a reply after 1900 ms still counts";
  EXPECT_EQ(reply(1).status, 0u);
  EXPECT_GE(seconds(1), 1.85);
  EXPECT_EQ(reply(2).replies, 0u) << "a reply after 2100 ms does not";
  EXPECT_EQ(reply(3).replies, 0u);
  EXPECT_GE(seconds(3), 1.95);
  EXPECT_EQ(reply(4).replies, 1u);
  EXPECT_EQ(reply(4).status, ip_status::kDestHostUnreachable);
  EXPECT_EQ(reply(4).address, testing::kPeerAddress);
  EXPECT_EQ(reply(5).replies, 0u);
  EXPECT_LT(seconds(5), 1.0) << "without a route nothing goes out, and nothing is waited for";
  EXPECT_EQ(reply(6).replies, 0u);
  EXPECT_LT(seconds(6), 1.0);
}

INSTANTIATE_TEST_SUITE_P(SocketKinds, IcmpSweepTest,
                         ::testing::Values(IcmpSocketKind::kDatagram, IcmpSocketKind::kRaw),
                         [](const ::testing::TestParamInfo<IcmpSocketKind>& info) {
                           return info.param == IcmpSocketKind::kDatagram ? "Datagram" : "Raw";
                         });

}  // namespace
}  // namespace hostlore
