// The svcctl client and the service seam against the test's MS-SCMR peer
// (tests/tools/scmr_peer) over TCP: the same walk through a service done by
// our client and by impacket's is served alike; the RemoteRegistry start
// through the network seam, and starts that fail or never complete.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <fstream>
#include <sstream>

#include "platform/network/rpc/svcctl_client.h"
#include "platform/network/rpc/svcctl_service_manager.h"
#include "probe/registry_service.h"
#include "support/test_support.h"
#include "util/unique_fd.h"

namespace hostlore::test {
namespace {

using Lines = std::vector<std::string>;
constexpr const char* kPython = "/usr/bin/python3";

std::string Tool(const std::string& name) {
  return std::string(HOSTLORE_SOURCE_DIR) + "/tests/tools/scmr_peer/" + name;
}

// Runs `args`; its standard output, one line per entry.
Lines Output(const std::vector<std::string>& args, pid_t* child = nullptr) {
  int out[2];
  if (::pipe(out) != 0) return {};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    std::vector<char*> argv;
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  Lines lines;
  std::string line;
  char c;
  // A peer is left running once it has said where it listens.
  while (::read(out[0], &c, 1) == 1) {
    if (c != '\n') {
      line += c;
      continue;
    }
    lines.push_back(line);
    line.clear();
    if (child != nullptr) break;
  }
  ::close(out[0]);
  if (child != nullptr) {
    *child = pid;
  } else {
    ::waitpid(pid, nullptr, 0);
  }
  return lines;
}

class ScmrPeer {
 public:
  ScmrPeer(const TempFolder& folder, const std::vector<std::string>& options)
      : journal_((folder.path() / ("journal" + std::to_string(++count_))).string()) {
    std::vector<std::string> args = {kPython, Tool("scmr_peer.py"), "--journal", journal_};
    args.insert(args.end(), options.begin(), options.end());
    const Lines first = Output(args, &pid_);
    if (!first.empty() && first[0].rfind("listening ", 0) == 0) {
      port_ = std::stoi(first[0].substr(10));
    }
  }
  ~ScmrPeer() {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
  int port() const { return port_; }
  Lines Journal() const {
    Lines lines;
    std::ifstream in(journal_);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  // A service manager of this peer, each manager on connections of its own.
  std::unique_ptr<ServiceManager> Services() const {
    const int port = port_;
    auto opener = [port] {
      return [port](const std::string&) -> Result<std::unique_ptr<rpc::RpcChannel>> {
        return rpc::RpcChannel::Bind(std::make_unique<TcpPdus>(port), svcctl::InterfaceId());
      };
    };
    return svcctl::NewSvcctlServiceManager(opener(), opener);
  }

 private:
  // DCE/RPC PDUs over TCP (ncacn_ip_tcp): the same bytes as on a pipe.
  class TcpPdus final : public rpc::PduTransport {
   public:
    explicit TcpPdus(int port) : socket_(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
      sockaddr_in to{};
      to.sin_family = AF_INET;
      to.sin_port = htons(static_cast<uint16_t>(port));
      to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      ::connect(socket_.get(), reinterpret_cast<sockaddr*>(&to), sizeof to);
    }
    Status Write(std::string_view bytes) override {
      return WriteAll(socket_.get(), bytes) == 0 ? Status::Ok()
                                                 : Status::Failure(53, "send failed");
    }
    Status Read(size_t count, std::string& out) override {
      out.assign(count, '\0');
      for (size_t done = 0; done < count;) {
        pollfd ready{socket_.get(), POLLIN, 0};
        const ssize_t n = ::poll(&ready, 1, 5000) == 1
                              ? ::read(socket_.get(), out.data() + done, count - done)
                              : -1;
        if (n <= 0) return Status::Failure(53, "no reply");
        done += static_cast<size_t>(n);
      }
      return Status::Ok();
    }

   private:
    UniqueFd socket_;
  };

  std::string journal_;
  pid_t pid_ = -1;
  int port_ = 0;
  static inline int count_ = 0;
};

// The walk of tests/tools/scmr_peer/impacket_scenario.py, with our client.
Lines OurScenario(ServiceManager& services) {
  constexpr uint32_t kAll =
      svc::kQueryStatus | svc::kQueryConfig | svc::kChangeConfig | svc::kStart | svc::kStop;
  const auto code = [](const Status& s) { return std::to_string(s.number()); };
  Lines lines;
  lines.push_back("open-missing " +
                  code(services.OpenService("peer", "NoSuchService", kAll).status()));
  Result<std::unique_ptr<Service>> opened = services.OpenService("peer", "RemoteRegistry", kAll);
  if (!opened.ok()) return {"open " + opened.status().description()};
  Service& s = *opened.value();
  lines.push_back("state " + std::to_string(s.QueryState().value()));
  lines.push_back("start-type " + std::to_string(s.QueryStartType().value()));
  lines.push_back("start " + code(s.Start()));
  lines.push_back("change " + code(s.ChangeStartType(svc::kDemandStart)));
  lines.push_back("start " + code(s.Start()));
  lines.push_back("state " + std::to_string(s.QueryState().value()));
  lines.push_back("start " + code(s.Start()));
  lines.push_back("stop " + code(s.Stop()));
  lines.push_back("stop " + code(s.Stop()));
  lines.push_back("change " + code(s.ChangeStartType(svc::kDisabled)));
  lines.push_back("start-type " + std::to_string(s.QueryStartType().value()));
  return lines;
}

class SvcctlPeerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kPython, X_OK) != 0) GTEST_SKIP() << kPython << " is missing";
  }
  TempFolder temp_;
};

TEST_F(SvcctlPeerTest, OurClientAndImpacketsAreServedAlike) {
  ScmrPeer ours(temp_, {});
  ScmrPeer theirs(temp_, {});
  ASSERT_NE(ours.port(), 0);
  ASSERT_NE(theirs.port(), 0);
  const Lines by_impacket = Output(
      {kPython, Tool("impacket_scenario.py"), std::to_string(theirs.port()), "RemoteRegistry"});
  if (by_impacket.empty()) GTEST_SKIP() << "python3-impacket is missing";
  const Lines expected = {
      "open-missing 1060", "state 1",    "start-type 4", "start 1058", "change 0", "start 0",
      "state 4",           "start 1056", "stop 0",       "stop 1062",  "change 0", "start-type 4"};
  EXPECT_EQ(by_impacket, expected);
  EXPECT_EQ(OurScenario(*ours.Services()), expected);
  const Lines journal = {"RemoteRegistry start-type=demand", "RemoteRegistry started",
                         "RemoteRegistry stopped", "RemoteRegistry start-type=disabled"};
  EXPECT_EQ(theirs.Journal(), journal);
  EXPECT_EQ(ours.Journal(), journal);
}

// A registry that answers while the peer's service runs, as the winreg
// pipe of a Windows target does.
class ServiceBoundRegistry final : public RemoteRegistry {
 public:
  explicit ServiceBoundRegistry(std::unique_ptr<ServiceManager> services)
      : services_(std::move(services)) {}
  Result<std::unique_ptr<RegistryKey>> Connect(const std::string& host, Hive) override {
    Result<std::unique_ptr<Service>> service =
        services_->OpenService(host, "RemoteRegistry", svc::kQueryStatus);
    if (!service.ok() || service.value()->QueryState().value() != svc::kRunning) {
      return Status::Failure(1722, "opening pipe winreg: no such pipe");
    }
    return std::unique_ptr<RegistryKey>();
  }

 private:
  std::unique_ptr<ServiceManager> services_;
};

TEST_F(SvcctlPeerTest, TheNetworkSeamStartsTheServiceAndPutsItBack) {
  ScmrPeer peer(temp_, {"--start", "disabled", "--state", "stopped"});
  std::unique_ptr<ServiceManager> services = peer.Services();
  FixedClock clock(0);
  auto changes = std::make_shared<TargetChanges>();
  std::unique_ptr<RemoteRegistry> registry = NewServiceStartingRegistry(
      std::make_unique<ServiceBoundRegistry>(peer.Services()), *services, clock, changes, {});
  EXPECT_TRUE(registry->Connect("peer", Hive::kLocalMachine).ok());
  EXPECT_EQ(peer.Journal(), (Lines{"RemoteRegistry start-type=demand", "RemoteRegistry started"}));
  const std::optional<RegistryServiceChange> change = changes->Close();
  ASSERT_TRUE(change);
  // The restore of a termination signal: a manager with connections of its own.
  EXPECT_TRUE(RestoreRegistryService(*services->Independent(), clock, *change).ok());
  EXPECT_EQ(peer.Journal().size(), 4u);
  EXPECT_EQ(peer.Journal().back(), "RemoteRegistry start-type=disabled");
}

TEST_F(SvcctlPeerTest, AStartThatFailsOrNeverCompletesSaysWhy) {
  FixedClock clock(0);
  {
    ScmrPeer peer(temp_, {"--start", "demand", "--start-error", "1069"});
    std::unique_ptr<ServiceManager> services = peer.Services();
    std::unique_ptr<RemoteRegistry> registry =
        NewServiceStartingRegistry(std::make_unique<ServiceBoundRegistry>(peer.Services()),
                                   *services, clock, std::make_shared<TargetChanges>(), {});
    EXPECT_EQ(registry->Connect("peer", Hive::kLocalMachine).status().description(),
              "RemoteRegistry could not be started: StartServiceW: error 1069");
  }
  ScmrPeer peer(temp_, {"--start", "demand", "--start-pending"});
  std::unique_ptr<ServiceManager> services = peer.Services();
  auto changes = std::make_shared<TargetChanges>();
  std::unique_ptr<RemoteRegistry> registry = NewServiceStartingRegistry(
      std::make_unique<ServiceBoundRegistry>(peer.Services()), *services, clock, changes, {});
  EXPECT_EQ(registry->Connect("peer", Hive::kLocalMachine).status().description(),
            "RemoteRegistry did not start within 10 s (still starting)");
  const Status restored = RestoreRegistryService(*services, clock, *changes->Close());
  EXPECT_EQ(restored.description(),
            "RemoteRegistry left running (it was stopped): ControlService: error 1061 (the service "
            "cannot accept control messages now)");
}

}  // namespace
}  // namespace hostlore::test
