// The RemoteRegistry service of a target whose registry cannot be reached:
// started as found (disabled, stopped, starting on a trigger) and put back,
// the opt-outs, and the reasons a start that fails or times out gives.
#include "probe/registry_service.h"

#include <fstream>

#include "probe/check_access.h"
#include "support/collector_fixture.h"

namespace hostlore::test {
namespace {

using Lines = std::vector<std::string>;

std::string Computer(const std::string& remote_registry) {
  return R"({"names": ["PC042"], "address": "192.0.2.42",
    "registry": {"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion": {"CurrentVersion": "6.3"}},
    "services": ["Remote Registry"], "remote_registry": )" +
         remote_registry + "}";
}

// Forwards to the lab's service manager; a test may hold the service in one
// state or refuse a stop.
class FaultyServices final : public ServiceManager {
 public:
  explicit FaultyServices(std::unique_ptr<ServiceManager> lab) : lab_(std::move(lab)) {}
  Result<std::unique_ptr<ServiceControlManager>> Open(const std::string& host) override {
    return lab_->Open(host);
  }
  Result<std::unique_ptr<Service>> OpenService(const std::string& host, const std::string& name,
                                               uint32_t access) override {
    Result<std::unique_ptr<Service>> service = lab_->OpenService(host, name, access);
    if (!service.ok()) return service;
    return std::unique_ptr<Service>(std::make_unique<Faulty>(std::move(service).value(), *this));
  }
  std::unique_ptr<ServiceManager> Independent() override { return lab_->Independent(); }

  std::optional<uint32_t> stuck_state;
  bool started_stuck = false;
  std::optional<Status> stop_failure;

 private:
  class Faulty final : public Service {
   public:
    Faulty(std::unique_ptr<Service> lab, FaultyServices& faults)
        : lab_(std::move(lab)), faults_(faults) {}
    // A service held starting never runs: the lab's stays stopped.
    Result<uint32_t> QueryState() override {
      return faults_.started_stuck ? Result<uint32_t>(*faults_.stuck_state) : lab_->QueryState();
    }
    Result<uint32_t> QueryStartType() override { return lab_->QueryStartType(); }
    Status ChangeStartType(uint32_t type) override { return lab_->ChangeStartType(type); }
    Status Start() override {
      if (!faults_.stuck_state) return lab_->Start();
      faults_.started_stuck = true;
      return Status::Ok();
    }
    Status Stop() override { return faults_.stop_failure ? *faults_.stop_failure : lab_->Stop(); }

   private:
    std::unique_ptr<Service> lab_;
    FaultyServices& faults_;
  };
  std::unique_ptr<ServiceManager> lab_;
};

class RegistryServiceTest : public CollectorTest {
 protected:
  // Loads the computer with the journal on and runs the access check.
  bool CheckAccessOf(const std::string& remote_registry,
                     const std::optional<std::string>& setting = std::nullopt) {
    ScopedEnv journal("HOSTLORE_LAB_JOURNAL", journal_path());
    ScopedEnv mode("HOSTLORE_REMOTE_REGISTRY", setting);
    Lab(Computer(remote_registry));
    return !EndsRun(CheckAccess);
  }
  std::string journal_path() const { return (temp_.path() / "journal").string(); }
  Lines Journal() const {
    Lines lines;
    std::ifstream in(journal_path());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // Why the registry cannot be reached now, as the access check's reason.
  std::string Reason() {
    Result<std::unique_ptr<RegistryKey>> key =
        state_->platform.registry->Connect("192.0.2.42", Hive::kLocalMachine);
    return key.ok() ? "reached" : key.status().description();
  }

  FaultyServices* faulty_ = nullptr;
};

TEST_F(RegistryServiceTest, StartsTheServiceAsFoundAndPutsItBack) {
  struct Case {
    std::string found;
    Lines changed, restored;
  };
  const Case cases[] = {
      {R"({"start": "disabled", "state": "stopped"})",
       {"PC042 RemoteRegistry start-type=demand", "PC042 RemoteRegistry started"},
       {"PC042 RemoteRegistry stopped", "PC042 RemoteRegistry start-type=disabled"}},
      {R"({"start": "demand", "state": "stopped"})",
       {"PC042 RemoteRegistry started"},
       {"PC042 RemoteRegistry stopped"}},
      // Started by the first attempt to reach it, which fails.
      {R"({"start": "auto", "state": "stopped", "trigger": true})",
       {"PC042 RemoteRegistry started"},
       {"PC042 RemoteRegistry stopped"}},
      {R"({"start": "auto", "state": "running"})", {}, {}},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(journal_path());
    ASSERT_TRUE(CheckAccessOf(c.found)) << c.found << ::testing::PrintToString(Log());
    EXPECT_EQ(Journal(), c.changed) << c.found;
    RestoreRemoteRegistry(*state_);
    Lines all = c.changed;
    all.insert(all.end(), c.restored.begin(), c.restored.end());
    EXPECT_EQ(Journal(), all) << c.found;
    RestoreRemoteRegistry(*state_);  // once only
    EXPECT_EQ(Journal(), all) << c.found;
    EXPECT_TRUE(Log().empty()) << ::testing::PrintToString(Log());
    EXPECT_FALSE(state_->FailureReported);
  }
}

TEST_F(RegistryServiceTest, OptOutsChangeWhatTheyPromise) {
  const std::string disabled = R"({"start": "disabled", "state": "stopped"})";
  ASSERT_TRUE(CheckAccessOf(disabled, "leave"));
  RestoreRemoteRegistry(*state_);
  EXPECT_EQ(Journal(),
            (Lines{"PC042 RemoteRegistry start-type=demand", "PC042 RemoteRegistry started"}));

  for (const std::string& setting : {"off", "Off"}) {
    std::filesystem::remove(journal_path());
    EXPECT_FALSE(CheckAccessOf(disabled, setting));
    EXPECT_TRUE(Journal().empty());
    EXPECT_EQ(Reason(), setting == "off"
                            ? "RemoteRegistry is stopped (disabled) and was left so: "
                              "HOSTLORE_REMOTE_REGISTRY=off"
                            : "RemoteRegistry is stopped (disabled) and was left so: "
                              "HOSTLORE_REMOTE_REGISTRY=Off is not one of restore, leave, off");
  }
}

TEST_F(RegistryServiceTest, ARefusedStartSaysWhyAndChangesNothing) {
  EXPECT_FALSE(CheckAccessOf(R"({"start": "demand", "state": "stopped", "start_error": 1069})"));
  EXPECT_EQ(Reason(), "RemoteRegistry could not be started: System error 1069.");
  RestoreRemoteRegistry(*state_);
  EXPECT_TRUE(Journal().empty());
  EXPECT_EQ(Log(), (Lines{"Insufficient access or error accessing PC ,PC042:RemoteRegistry could "
                          "not be started: System error 1069."}));
}

TEST_F(RegistryServiceTest, AStartThatNeverCompletesIsBoundedAndStillPutBack) {
  ScopedEnv journal("HOSTLORE_LAB_JOURNAL", journal_path());
  Lab(Computer(R"({"start": "disabled", "state": "stopped"})"));
  auto faulty = std::make_unique<FaultyServices>(std::move(state_->platform.services));
  faulty->stuck_state = svc::kStartPending;
  faulty_ = faulty.get();
  state_->platform.services = std::move(faulty);
  FixedClock* clock = static_cast<FixedClock*>(state_->platform.clock.get());
  EXPECT_TRUE(EndsRun(CheckAccess));
  EXPECT_EQ(Reason(), "RemoteRegistry did not start within 10 s (still starting)");
  EXPECT_EQ(Log(), (Lines{"Insufficient access or error accessing PC ,PC042:RemoteRegistry did not "
                          "start within 10 s (still starting)"}));
  EXPECT_GE(clock->slept(), kStartWait);
  EXPECT_LE(clock->slept(), kStartWait + kPollEvery);

  // The restore is refused: the log says what was left changed.
  faulty_->stop_failure = Status::Failure(5, "ControlService: error 5 (access denied)");
  const size_t before = Log().size();
  RestoreRemoteRegistry(*state_);
  const Lines log = Log();
  ASSERT_EQ(log.size(), before + 1);
  EXPECT_EQ(log.back(),
            "Unable to restore RemoteRegistry,PC042:RemoteRegistry left running (it was stopped): "
            "ControlService: error 5 (access denied)");
  EXPECT_EQ(Progress().back(), "PC042,Complete,192.0.2.42,0");
  EXPECT_TRUE(state_->FailureReported);
  EXPECT_EQ(Journal().back(), "PC042 RemoteRegistry start-type=disabled");
}

}  // namespace
}  // namespace hostlore::test
