// Whole runs over the lab: the order of the progress lines, the early ends,
// the failure paths and the exit status.
#include <gtest/gtest.h>

#include "scan/process_end.h"
#include "support/agent_fixture.h"

namespace hostlore::test {
namespace {

using Lines = std::vector<std::string>;

// Forwards to the lab's echo; counts the echoes sent and can refuse ICMP.
class CountingEcho final : public Echo {
 public:
  CountingEcho(std::unique_ptr<Echo> inner, int* sent, bool refuse_icmp)
      : inner_(std::move(inner)), sent_(sent), refuse_icmp_(refuse_icmp) {}

  std::optional<Ipv4Address> Resolve(const std::string& name) override {
    return inner_->Resolve(name);
  }
  Result<std::unique_ptr<IcmpHandle>> CreateIcmpHandle() override {
    if (refuse_icmp_) return Status::Failure(1, "Operation not permitted");
    Result<std::unique_ptr<IcmpHandle>> handle = inner_->CreateIcmpHandle();
    if (!handle.ok()) return handle;
    return std::unique_ptr<IcmpHandle>(std::make_unique<Counting>(std::move(handle).value(), sent_));
  }

 private:
  class Counting final : public IcmpHandle {
   public:
    Counting(std::unique_ptr<IcmpHandle> inner, int* sent) : inner_(std::move(inner)), sent_(sent) {}
    EchoReply SendEcho(const Ipv4Address& to, const EchoRequest& request) override {
      ++*sent_;
      return inner_->SendEcho(to, request);
    }

   private:
    std::unique_ptr<IcmpHandle> inner_;
    int* sent_;
  };

  std::unique_ptr<Echo> inner_;
  int* sent_;
  bool refuse_icmp_;
};

class ScanTest : public AgentFixture {
 protected:
  void SetUp() override { lab_.Write("pc042.json", Pc042Json()); }

  int RunCounting(const std::string& fields, bool refuse_icmp = false) {
    return Run(fields, [&](Platform& p) {
      p.echo = std::make_unique<CountingEcho>(std::move(p.echo), &echoes_sent_, refuse_icmp);
    });
  }

  int echoes_sent_ = 0;
};

TEST_F(ScanTest, AnAnsweringTargetGoesThroughEveryStep) {
  EXPECT_EQ(Run("pc042," + Db() + ",,7"), kExitNormal);
  const std::string at = ",192.0.2.42,7";
  // The first two lines carry the command-line name, the rest the target's own.
  EXPECT_EQ(Progress(),
            (Lines{"pc042,2,,7", "pc042,4" + at, "PC042,6" + at, "PC042,10" + at,
                   "PC042,20" + at, "PC042,27" + at, "PC042,29" + at, "PC042,33" + at,
                   "PC042,35" + at, "PC042,40" + at, "PC042,63.3333333333333" + at,
                   "PC042,76.6666666666667" + at, "PC042,90" + at, "PC042,103.333333333333" + at,
                   "PC042,90" + at, "PC042,100" + at, "PC042,Complete" + at}));
  EXPECT_TRUE(Log().empty());
  EXPECT_TRUE(state_->PingOk);
}

TEST_F(ScanTest, StartsTheScanOnceAfterTwoHundredMilliseconds) {
  FixedClock* clock = nullptr;
  Run("PC042," + Db() + ",,7", [&](Platform& p) { clock = static_cast<FixedClock*>(p.clock.get()); });
  ASSERT_NE(clock, nullptr);
  EXPECT_EQ(clock->slept(), std::chrono::milliseconds(200));
}

TEST_F(ScanTest, UserOnlyRunsSkipTheSoftwareStep) {
  EXPECT_EQ(Run("PC042," + Db() + ",-u,7"), kExitNormal);
  EXPECT_EQ(Progress(), (Lines{"PC042,2,,7", "PC042,4,192.0.2.42,7", "PC042,6,192.0.2.42,7",
                              "PC042,100,192.0.2.42,7", "PC042,Complete,192.0.2.42,7"}));
}

TEST_F(ScanTest, DashUAtTheEndOfTheWholeLineAlsoSelectsUserOnly) {
  EXPECT_EQ(Run("PC042," + Db() + ",x,7,-u"), kExitNormal);
  EXPECT_TRUE(state_->UserOnly);
  EXPECT_EQ(Progress().size(), 5u);
}

TEST_F(ScanTest, ATargetThatDoesNotAnswerEndsAfterStepFourWithoutALogLine) {
  lab_.Write("pc042.json", R"({"names": ["PC042"], "address": "192.0.2.42", "echo": 11003})");
  EXPECT_EQ(Run("PC042," + Db() + ",,-1"), kExitNormal);
  EXPECT_EQ(Progress(), (Lines{"PC042,2,,-1", "PC042,4,,-1", "PC042,Complete,,-1"}));
  EXPECT_TRUE(Log().empty());
  EXPECT_FALSE(state_->PingOk);
  EXPECT_EQ(state_->TargetAddress, "");
}

TEST_F(ScanTest, ANameThatDoesNotResolveSendsNoEcho) {
  EXPECT_EQ(RunCounting("NOSUCHPC," + Db() + ",,7"), kExitNormal);
  EXPECT_EQ(echoes_sent_, 0);
  EXPECT_EQ(Progress(), (Lines{"NOSUCHPC,2,,7", "NOSUCHPC,4,,7", "NOSUCHPC,Complete,,7"}));
}

TEST_F(ScanTest, WithoutIcmpTheMessageBoxDoesNotBlockAndTheTargetCountsAsSilent) {
  ::testing::internal::CaptureStderr();
  const int status = RunCounting("PC042," + Db() + ",,7", /*refuse_icmp=*/true);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(status, kExitNormal);
  EXPECT_NE(err.find("Unable to Create File Handle"), std::string::npos);
  EXPECT_EQ(echoes_sent_, 0);
  EXPECT_EQ(Progress().back(), "PC042,Complete,,7");
}

TEST_F(ScanTest, ANameOfSixtyFiveCharactersEndsThroughTheScanFailurePath) {
  const std::string name(65, 'N');
  EXPECT_EQ(RunCounting(name + "," + Db() + ",,7"), kExitFailure);
  EXPECT_EQ(Progress(), (Lines{name + ",2,,7", name + ",Complete,,7"}));
  EXPECT_EQ(LogWithoutTime(),
            (Lines{"Hostlore.Scan," + name + ":the target name is longer than 64 characters"}));
  EXPECT_EQ(echoes_sent_, 0);
}

TEST_F(ScanTest, ANameOfSixtyFourCharactersIsLookedUp) {
  const std::string name(64, 'N');
  EXPECT_EQ(Run(name + "," + Db() + ",,7"), kExitNormal);
  EXPECT_EQ(Progress().back(), name + ",Complete,,7");
  EXPECT_TRUE(Log().empty());
}

TEST_F(ScanTest, ARefusedRegistryEndsTheRunWithTheAccessLine) {
  lab_.Write("pc042.json", R"({"names": ["PC042"], "address": "192.0.2.42", "registry": false})");
  EXPECT_EQ(Run("PC042," + Db() + ",,7"), kExitFailure);
  EXPECT_EQ(Progress(), (Lines{"PC042,2,,7", "PC042,4,192.0.2.42,7", "PC042,Complete,192.0.2.42,7"}));
  // The line ends in the reason the registry connection gave.
  EXPECT_EQ(LogWithoutTime(),
            (Lines{"Insufficient access or error accessing PC ,PC042:The network path was not found."}));
}

TEST_F(ScanTest, AMissingVersionValueCountsAsNoAccess) {
  lab_.Write("pc042.json", R"({"names": ["PC042"], "address": "192.0.2.42",
    "registry": {"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion": {"CurrentBuildNumber": "2600"}}})");
  EXPECT_EQ(Run("PC042," + Db() + ",,7"), kExitFailure);
  EXPECT_EQ(LogWithoutTime(),
            (Lines{"Insufficient access or error accessing PC ,PC042:HKLM\\Software\\Microsoft\\"
                   "Windows NT\\CurrentVersion value currentversion: The system cannot find the "
                   "file specified."}));
}

TEST_F(ScanTest, AnUnreadableLabIsLoggedUnderTheLoad) {
  lab_.Write("broken.json", "{ not json");
  EXPECT_EQ(Run("PC042," + Db() + ",,7"), kExitFailure);
  const Lines log = LogWithoutTime();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("Hostlore.Form_Load," + state_->CommandLine + ":", 0), 0u) << log[0];
  EXPECT_EQ(Progress(), (Lines{"PC042,Complete,,7"}));
}

}  // namespace
}  // namespace hostlore::test
