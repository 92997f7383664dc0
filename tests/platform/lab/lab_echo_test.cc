// Name lookup and echo over lab computers.
#include <gtest/gtest.h>

#include <chrono>

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

}  // namespace
}  // namespace hostlore::test
