// Software inventory of a Samba peer with 300 uninstall entries, reached
// through relays: one that delays every chunk by 10 ms each way (a far
// link, 20 ms round trip) and one that adds nothing (a LAN). Each route of
// the registry walk is measured on both, in one run:
// - a session per value read, as a literal reading of "a connection per
//   value" would cost (sampled: the first ten programs);
// - one pipe for the run, with its read-ahead (HOSTLORE_REGISTRY_PIPES=0);
// - extra pipes in parallel (4 and 8);
// - the default, HOSTLORE_REGISTRY_PIPES unset: extra pipes only for a walk
//   that the measured round trip makes long;
// - the hive snapshot (HOSTLORE_REGISTRY_SNAPSHOT=1), where the peer
//   serves it.
// Reported per route: value reads, wall time, messages (a request or an
// answer crossing the relay, halved) per value read, the wall time in round
// trips per value read, and the CPU time the agent's side spent. The relays
// run in a child process, so that the CPU time is the agent's alone.
//
//   smb_bench          every route, far and LAN
//   smb_bench PIPES    the far link only, with HOSTLORE_REGISTRY_PIPES=PIPES
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>

#include "collect/reg_reader.h"
#include "collect/software_inventory.h"
#include "platform/network/network_platform.h"
#include "platform/network/smb/smb_backends.h"
#include "platform/network/smb/samba_peer.h"
#include "platform/network/tcp_relay.h"
#include "scan/scan_state.h"
#include "scan/work_lists.h"

namespace hostlore {
namespace {

using testing::kClientAddress;
using testing::kPeerAddress;
using Clock = std::chrono::steady_clock;

constexpr int kPrograms = 300;
constexpr auto kFarDelay = std::chrono::milliseconds(10);
const Ipv4Address kLoopback{127, 0, 0, 1};
// Value reads of the session-per-value side: enough for a steady mean, few
// enough to finish in under a minute.
constexpr int kSampledEntries = 10;

std::string Registry() {
  std::string reg = "Windows Registry Editor Version 5.00\n\n";
  for (int i = 0; i < kPrograms; ++i) {
    const std::string n = std::to_string(i);
    reg += "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Prog" +
           n + "]\n\"DisplayName\"=\"Program " + n + "\"\n\"DisplayVersion\"=\"1." + n +
           "\"\n\"InstallLocation\"=\"C:\\\\Programs\\\\P" + n +
           "\"\n\"UninstallString\"=\"C:\\\\Programs\\\\P" + n + "\\\\un.exe\"\n\n";
  }
  return reg;
}

// Counts value reads on their way to the real registry seam.
class CountingKey final : public RegistryKey {
 public:
  CountingKey(std::unique_ptr<RegistryKey> key, uint64_t& reads)
      : key_(std::move(key)), reads_(reads) {}
  Result<std::unique_ptr<RegistryKey>> OpenKey(std::string_view subkey, uint32_t access) override {
    auto opened = key_->OpenKey(subkey, access);
    if (!opened.ok()) return opened.status();
    return std::unique_ptr<RegistryKey>(
        std::make_unique<CountingKey>(std::move(opened).value(), reads_));
  }
  Result<RegistryValue> QueryValue(std::string_view name) override {
    ++reads_;
    return key_->QueryValue(name);
  }
  Result<std::string> EnumKey(uint32_t index) override { return key_->EnumKey(index); }

 private:
  std::unique_ptr<RegistryKey> key_;
  uint64_t& reads_;
};

// `fresh_session`: every Connect gets a registry of its own, with its own
// SMB session, torn down when the caller closes the key.
class CountingRegistry final : public RemoteRegistry {
 public:
  explicit CountingRegistry(bool fresh_session) : fresh_session_(fresh_session) {
    if (!fresh_session_) shared_ = NewSmbRegistry(std::make_shared<SmbTargets>());
  }
  Result<std::unique_ptr<RegistryKey>> Connect(const std::string& host, Hive hive) override {
    std::unique_ptr<RemoteRegistry> own;
    if (fresh_session_) own = NewSmbRegistry(std::make_shared<SmbTargets>());
    auto root = (fresh_session_ ? own : shared_)->Connect(host, hive);
    if (!root.ok()) return root.status();
    return std::unique_ptr<RegistryKey>(
        std::make_unique<CountingKey>(std::move(root).value(), reads));
  }
  uint64_t reads = 0;

 private:
  bool fresh_session_;
  std::unique_ptr<RemoteRegistry> shared_;
};

// The relays' chunk counts, written by the relay process.
struct RelayCounts {
  std::atomic<uint64_t> far{0};
  std::atomic<uint64_t> lan{0};
  std::atomic<int> state{0};  // 1 listening, -1 could not listen
};

struct Measure {
  double seconds = 0;
  double cpu_seconds = 0;
  uint64_t reads = 0;
  uint64_t messages = 0;
  std::string list;  // the software list the route gave
};

// This process's CPU time and that of its children that have ended: the
// walk's worker processes count once the registry backend has ended them
// (the relays' process ends only after the last measure).
double CpuSeconds() {
  double seconds = 0;
  for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
    rusage usage{};
    ::getrusage(who, &usage);
    seconds += static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
               static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
  }
  return seconds;
}

std::string LoadAverage() {
  std::string load;
  std::getline(std::ifstream("/proc/loadavg"), load);
  return load;
}

class Bench {
 public:
  Bench(testing::SambaPeer& peer, RelayCounts& counts, std::string temp)
      : peer_(peer), counts_(counts), temp_(std::move(temp)) {}

  // The software inventory through the agent's registry seam, with the
  // route that `pipes` and `snapshot` choose.
  Measure Inventory(bool far, const char* pipes, const char* snapshot) {
    if (pipes != nullptr) {
      ::setenv("HOSTLORE_REGISTRY_PIPES", pipes, 1);
    } else {
      ::unsetenv("HOSTLORE_REGISTRY_PIPES");
    }
    if (snapshot != nullptr) {
      ::setenv("HOSTLORE_REGISTRY_SNAPSHOT", snapshot, 1);
    } else {
      ::unsetenv("HOSTLORE_REGISTRY_SNAPSHOT");
    }
    Measure m;
    double cpu = 0;
    peer_.namespaces().InClient([&] {
      const std::string host = Host(far);
      ScanState state;
      state.platform = MakeNetworkPlatform();
      auto counting = std::make_unique<CountingRegistry>(false);
      CountingRegistry* registry = counting.get();
      state.platform.registry = std::move(counting);
      state.TargetAddress = host;
      state.TempDir = temp_;
      PrepareListViews(state.Lists);
      // Warm up: the session and pipe exist before the clock starts, as
      // they do after the access check in a real run.
      int32_t type = 0;
      ReadRegValue(state, host, Hive::kLocalMachine,
                   "Software\\Microsoft\\Windows NT\\CurrentVersion", "CurrentVersion", type);
      registry->reads = 0;
      const uint64_t messages = Messages(far);
      cpu = CpuSeconds();
      const auto start = Clock::now();
      GetSoftware(state);
      m.seconds = std::chrono::duration<double>(Clock::now() - start).count();
      m.reads = registry->reads;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      m.messages = Messages(far) - messages;
      m.list = state.SoftwareList;
      if (state.SoftwareList.empty()) std::fprintf(stderr, "smb_bench: empty software list\n");
    });
    // Counted once the backend (and with it the walk's workers) has ended.
    m.cpu_seconds = CpuSeconds() - cpu;
    return m;
  }

  // Value reads with a session of their own each.
  Measure SessionPerValue(bool far) {
    Measure m;
    peer_.namespaces().InClient([&] {
      const std::string host = Host(far);
      CountingRegistry fresh(true);
      const uint64_t messages = Messages(far);
      const double cpu = CpuSeconds();
      const auto start = Clock::now();
      for (int i = 0; i < kSampledEntries; ++i) {
        const std::string key =
            "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Prog" + std::to_string(i);
        for (const char* name : {"DisplayName", "DisplayVersion", "InstallLocation", "ProductID",
                                 "UninstallString"}) {
          auto root = fresh.Connect(host, Hive::kLocalMachine);
          if (!root.ok()) continue;
          auto opened = root.value()->OpenKey(key, reg::kAllSpecificRights);
          if (opened.ok()) opened.value()->QueryValue(name);
        }
      }
      m.seconds = std::chrono::duration<double>(Clock::now() - start).count();
      m.cpu_seconds = CpuSeconds() - cpu;
      m.reads = fresh.reads;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      m.messages = Messages(far) - messages;
    });
    return m;
  }

 private:
  std::string Host(bool far) const {
    return FormatDottedAddress(far ? kClientAddress : kLoopback);
  }
  uint64_t Messages(bool far) const { return (far ? counts_.far : counts_.lan).load() / 2; }

  testing::SambaPeer& peer_;
  RelayCounts& counts_;
  std::string temp_;
};

void Print(const char* what, const Measure& m, bool far, double baseline_ms) {
  const double per_read_ms = m.reads ? 1000 * m.seconds / m.reads : 0;
  const double round_trip_s = 2 * std::chrono::duration<double>(kFarDelay).count();
  std::printf("  %-28s %5llu reads %8.2f s %7.2f ms/read %6.2f msg/read", what,
              static_cast<unsigned long long>(m.reads), m.seconds, per_read_ms,
              m.reads ? double(m.messages) / m.reads : 0);
  if (far) std::printf(" %6.3f RTT/read", m.reads ? m.seconds / round_trip_s / m.reads : 0);
  std::printf(" %6.2f s CPU", m.cpu_seconds);
  if (baseline_ms > 0 && per_read_ms > 0) std::printf(" %6.1fx", baseline_ms / per_read_ms);
  std::printf("\n");
}

// The relays, in a child process that runs until killed.
pid_t StartRelays(testing::SambaPeer& peer, RelayCounts& counts) {
  const pid_t child = ::fork();
  if (child != 0) return child;
  peer.namespaces().InClient([&] {
    testing::TcpRelay far(testing::ListenOn(kClientAddress, 445), kPeerAddress, 445, kFarDelay);
    testing::TcpRelay lan(testing::ListenOn(kLoopback, 445), kPeerAddress, 445,
                          std::chrono::microseconds(0));
    counts.state = 1;
    for (;;) {
      counts.far = far.chunks();
      counts.lan = lan.chunks();
      std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
  });
  counts.state = -1;
  std::_Exit(1);
}

int Run(const char* only_pipes) {
  testing::SambaPeerContent content;
  content.registry = Registry();
  content.admin_share = true;
  std::string why_not;
  auto peer = testing::SambaPeer::Start(content, why_not);
  if (!peer) {
    std::fprintf(stderr, "smb_bench: cannot run: %s\n", why_not.c_str());
    return 1;
  }
  ::setenv("HOSTLORE_AUTH_FILE",
           peer->AuthFile(testing::kAdminUser, testing::kAdminPassword).c_str(), 1);
  char temp[] = "/tmp/hostlore-smb-bench-XXXXXX";
  if (::mkdtemp(temp) == nullptr) return 1;
  auto* counts = static_cast<RelayCounts*>(::mmap(nullptr, sizeof(RelayCounts),
                                                  PROT_READ | PROT_WRITE,
                                                  MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  new (counts) RelayCounts;
  const pid_t relays = StartRelays(*peer, *counts);
  while (counts->state == 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
  if (counts->state < 0) return 1;

  std::printf("software inventory of %d programs; load average at start: %s\n", kPrograms,
              LoadAverage().c_str());
  Bench bench(*peer, *counts, temp);
  int status = 0;
  if (only_pipes != nullptr) {
    const Measure m = bench.Inventory(true, only_pipes, nullptr);
    Print((std::string(only_pipes) + " extra pipes").c_str(), m, true, 0);
    ::kill(relays, SIGKILL);
    ::waitpid(relays, nullptr, 0);
    std::filesystem::remove_all(temp);
    return 0;
  }
  for (bool far : {true, false}) {
    if (far) {
      std::printf("far link: %lld ms added each way\n", static_cast<long long>(kFarDelay.count()));
    } else {
      std::printf("LAN: no delay added\n");
    }
    const Measure per_value = bench.SessionPerValue(far);
    const double baseline_ms = per_value.reads ? 1000 * per_value.seconds / per_value.reads : 0;
    Print("a session per value read", per_value, far, 0);
    const Measure one = bench.Inventory(far, "0", nullptr);
    Print("one pipe, read-ahead", one, far, baseline_ms);
    const Measure four = bench.Inventory(far, "4", nullptr);
    Print("4 extra pipes", four, far, baseline_ms);
    const Measure eight = bench.Inventory(far, "8", nullptr);
    Print("8 extra pipes", eight, far, baseline_ms);
    const Measure chosen = bench.Inventory(far, nullptr, nullptr);
    Print("default (pipes left unset)", chosen, far, baseline_ms);
    const Measure snapshot = bench.Inventory(far, "0", "1");
    Print("hive snapshot", snapshot, far, baseline_ms);
    for (const Measure* route : {&four, &eight, &chosen, &snapshot}) {
      if (route->list != one.list) {
        std::fprintf(stderr, "smb_bench: a route's software list differs from the single pipe's\n");
        status = 1;
      }
    }
  }
  std::printf("load average at end: %s\n", LoadAverage().c_str());
  ::kill(relays, SIGKILL);
  ::waitpid(relays, nullptr, 0);
  std::filesystem::remove_all(temp);
  return status;
}

}  // namespace
}  // namespace hostlore

int main(int argc, char** argv) { return hostlore::Run(argc > 1 ? argv[1] : nullptr); }
