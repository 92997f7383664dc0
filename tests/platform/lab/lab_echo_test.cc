// Name lookup and echo over lab computers.
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <thread>

#include "platform/lab/lab_echo_sweep.h"
#include "platform/lab/lab_fixture.h"

namespace hostlore::test {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

using LabEchoTest = LabTest;

constexpr Ipv4Address kPc042{192, 0, 2, 42};

TEST_F(LabEchoTest, NamesAndTheAddressResolveNothingElse) {
  Platform lab = Lab(R"({"names": ["PC042", "pc042.corp.example"], "address": "192.0.2.42"})");
  EXPECT_EQ(lab.echo->Resolve("pc042"), kPc042);
  EXPECT_EQ(lab.echo->Resolve("PC042.CORP.example"), kPc042);
  EXPECT_EQ(lab.echo->Resolve("192.0.2.42"), kPc042);
  EXPECT_FALSE(lab.echo->Resolve("PC043").has_value());
  EXPECT_FALSE(lab.echo->Resolve("192.0.2.43").has_value());
  EXPECT_FALSE(lab.echo->Resolve("PC042 ").has_value());
  EXPECT_FALSE(lab.echo->Resolve("").has_value());
}

TEST_F(LabEchoTest, AReplyComesFromTheComputersAddress) {
  Platform lab = Lab(R"({"address": "192.0.2.42"})");  // "reply" is the default
  auto icmp = lab.echo->CreateIcmpHandle();
  ASSERT_TRUE(icmp.ok());
  const EchoReply reply = icmp.value()->SendEcho(kPc042, EchoRequest{});
  EXPECT_EQ(reply.replies, 1u);
  EXPECT_EQ(reply.status, 0u);
  EXPECT_EQ(reply.address, kPc042);
}

TEST_F(LabEchoTest, AStatusNumberIsAReplyThatIsNoSuccess) {
  Platform lab = Lab(R"({"address": "192.0.2.42", "echo": 11013})");
  const EchoReply reply = lab.echo->CreateIcmpHandle().value()->SendEcho(kPc042, EchoRequest{});
  EXPECT_EQ(reply.replies, 1u);
  EXPECT_EQ(reply.status, 11013u);
}

TEST_F(LabEchoTest, ATimeoutWaitsTheWholeTwoSeconds) {
  Platform lab = Lab(R"({"address": "192.0.2.42", "echo": "timeout"})");
  const auto start = steady_clock::now();
  const EchoReply reply = lab.echo->CreateIcmpHandle().value()->SendEcho(kPc042, EchoRequest{});
  EXPECT_GE(steady_clock::now() - start, milliseconds(2000));
  EXPECT_EQ(reply.replies, 0u);
}

TEST_F(LabEchoTest, AnAddressWithoutAComputerGivesNoReplyAfterTheTimeout) {
  Platform lab = Lab(R"({"address": "192.0.2.42"})");
  EchoRequest request;
  request.timeout = milliseconds(50);
  const auto start = steady_clock::now();
  const EchoReply reply =
      lab.echo->CreateIcmpHandle().value()->SendEcho(Ipv4Address{192, 0, 2, 43}, request);
  EXPECT_GE(steady_clock::now() - start, request.timeout);
  EXPECT_EQ(reply.replies, 0u);
}

// The sweep answers every echo once, as the lab's own echo does: replies at
// once, silence only when the request's time is up.
TEST_F(LabEchoTest, ASweepAnswersEachEchoAsTheLabsOwnEcho) {
  folder_.Write("a.json", R"({"names": ["PC042"], "address": "192.0.2.42"})");
  folder_.Write("b.json", R"({"names": ["QUIET"], "address": "192.0.2.43", "echo": "timeout"})");
  folder_.Write("c.json", R"({"names": ["FAR"], "address": "192.0.2.44", "echo": 11003})");
  EchoRequest request;
  request.timeout = milliseconds(300);
  Result<std::unique_ptr<EchoSweep>> sweep =
      OpenLabEchoSweep(folder_.path().string(), {"pc042", "QUIET", "FAR", "NOBODY", "192.0.2.42"}, request);
  ASSERT_TRUE(sweep.ok()) << sweep.status().description();
  EchoSweep& echo = *sweep.value();
  EXPECT_EQ(echo.Resolve("pc042"), kPc042);
  EXPECT_EQ(echo.Resolve("192.0.2.42"), kPc042);
  EXPECT_FALSE(echo.Resolve("NOBODY").has_value());
  EXPECT_FALSE(echo.Resolve("PC043").has_value());  // not asked for at the start

  const auto start = steady_clock::now();
  const std::vector<Ipv4Address> destinations = {kPc042, {192, 0, 2, 43}, {192, 0, 2, 44}, {192, 0, 2, 99}};
  for (size_t tag = 0; tag < destinations.size(); ++tag) EXPECT_TRUE(echo.Send(destinations[tag], tag));
  std::map<uint64_t, std::pair<EchoReply, milliseconds>> answers;
  while (echo.InFlight() > 0) {
    std::this_thread::sleep_until(echo.NextTimeout().value_or(steady_clock::now()));
    for (const SweepAnswer& answer : echo.Collect()) {
      EXPECT_TRUE(answers.emplace(answer.tag, std::pair(answer.reply, std::chrono::duration_cast<milliseconds>(
                                                                           steady_clock::now() - start)))
                      .second)
          << "echo " << answer.tag << " answered twice";
    }
  }
  ASSERT_EQ(answers.size(), 4u);
  EXPECT_EQ(answers[0].first.replies, 1u);
  EXPECT_EQ(answers[0].first.status, 0u);
  EXPECT_EQ(answers[0].first.address, kPc042);
  EXPECT_EQ(answers[2].first.replies, 1u);
  EXPECT_EQ(answers[2].first.status, 11003u);
  EXPECT_LT(answers[2].second, request.timeout);
  for (uint64_t silent : {1u, 3u}) {
    EXPECT_EQ(answers[silent].first.replies, 0u);
    EXPECT_GE(answers[silent].second, request.timeout);
  }
}

TEST_F(LabEchoTest, ASweepOverABrokenLabSaysWhichFile) {
  folder_.Write("broken.json", "{\"address\": ");
  Result<std::unique_ptr<EchoSweep>> sweep = OpenLabEchoSweep(folder_.path().string(), {"PC042"}, EchoRequest{});
  ASSERT_FALSE(sweep.ok());
  EXPECT_NE(sweep.status().description().find("broken.json"), std::string::npos) << sweep.status().description();
}

}  // namespace
}  // namespace hostlore::test
