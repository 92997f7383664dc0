// Software inventory of a Samba peer with 300 uninstall entries, reached
// through a relay that delays every chunk by 10 ms each way. Compares, in
// one run, the backend as the agent uses it (one SMB session and one
// winreg pipe for the run) with a session per value read, as a literal
// reading of "a connection per value" would cost. Reports round trips (a
// request and its answer crossing the relay) per value read and wall time.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>

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
constexpr auto kDelay = std::chrono::milliseconds(10);
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

struct Measure {
  double seconds = 0;
  uint64_t reads = 0;
  uint64_t round_trips = 0;
  double per_read_ms() const { return reads ? 1000 * seconds / reads : 0; }
  double trips_per_read() const { return reads ? double(round_trips) / reads : 0; }
};

void Print(const char* what, const Measure& m) {
  std::printf("%-32s %6llu value reads  %8.2f s  %7.2f ms/read  %6.2f round trips/read\n", what,
              static_cast<unsigned long long>(m.reads), m.seconds, m.per_read_ms(),
              m.trips_per_read());
}

int Run() {
  testing::SambaPeerContent content;
  content.registry = Registry();
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
  Measure one, per_value;
  bool ran = peer->namespaces().InClient([&] {
    // The relay listens on the client's own address and reaches the peer.
    testing::TcpRelay relay(testing::ListenOn(kClientAddress, 445), kPeerAddress, 445, kDelay);
    const std::string host = FormatDottedAddress(kClientAddress);

    ScanState state;
    state.platform = MakeNetworkPlatform();
    auto counting = std::make_unique<CountingRegistry>(false);
    CountingRegistry* shared = counting.get();
    state.platform.registry = std::move(counting);
    state.TargetAddress = host;
    state.TempDir = temp;
    PrepareListViews(state.Lists);
    // Warm up: the session and pipe exist before the clock starts, as they
    // do after the access check in a real run.
    int32_t type = 0;
    ReadRegValue(state, host, Hive::kLocalMachine,
                 "Software\\Microsoft\\Windows NT\\CurrentVersion", "CurrentVersion", type);
    shared->reads = 0;
    uint64_t chunks = relay.chunks();
    auto start = Clock::now();
    GetSoftware(state);
    one.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    one.reads = shared->reads;
    one.round_trips = (relay.chunks() - chunks) / 2;
    if (state.SoftwareList.empty()) std::fprintf(stderr, "smb_bench: empty software list\n");

    CountingRegistry fresh(true);
    chunks = relay.chunks();
    start = Clock::now();
    for (int i = 0; i < kSampledEntries; ++i) {
      const std::string key =
          "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Prog" + std::to_string(i);
      for (const char* name :
           {"DisplayName", "DisplayVersion", "InstallLocation", "ProductID", "UninstallString"}) {
        auto root = fresh.Connect(host, Hive::kLocalMachine);
        if (!root.ok()) continue;
        auto opened = root.value()->OpenKey(key, reg::kAllSpecificRights);
        if (opened.ok()) opened.value()->QueryValue(name);
      }
    }
    per_value.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    per_value.reads = fresh.reads;
    per_value.round_trips = (relay.chunks() - chunks) / 2;
  });
  std::filesystem::remove_all(temp);
  if (!ran) return 1;
  std::printf("software inventory of %d programs, %lld ms added each way\n", kPrograms,
              static_cast<long long>(kDelay.count()));
  Print("one session for the run", one);
  Print("a session per value read", per_value);
  if (one.per_read_ms() > 0) {
    std::printf("speed-up per value read: %.1fx\n", per_value.per_read_ms() / one.per_read_ms());
  }
  return 0;
}

}  // namespace
}  // namespace hostlore

int main() { return hostlore::Run(); }
