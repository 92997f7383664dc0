// The runner's echo sweep with real ICMP, inside network namespaces of the
// benchmark's own: how many echoes a second it sustains without losing
// replies.
//
//   echo_rate_bench [RATES]      RATES: comma-separated, default 1000,3000,10000,20000,30000
//
// Routed: the peer answers every address of 10.214.0.0/16 (a local route),
// which the client reaches through the peer; each rate sweeps three seconds'
// worth of addresses (at most the /16) with TargetSweep, the runner's own
// code, and counts the replies that did not come back.
// On-link: 10.215.0.0/20 is the client's own link, where the peer holds every
// tenth address and no one the others; every silent address then waits for
// a neighbour (ARP) entry that never resolves, and Linux keeps at most
// gc_thresh3 (1,024) of them.
#include <poll.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "fleet/target_sweep.h"
#include "platform/network/icmp/icmp_sweep.h"
#include "platform/network/namespace_pair.h"

namespace {

using hostlore::Ipv4Address;
using hostlore::testing::NamespacePair;
using Clock = std::chrono::steady_clock;

bool Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()) == 0; }

double CpuSeconds() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

struct Sweep {
  size_t answered = 0;
  double send_seconds = 0;  // first send to last
  double wall_seconds = 0;
  double cpu_seconds = 0;
};

// Sweeps `targets` from the client namespace at `rate`, as the runner does.
Sweep SweepFrom(const NamespacePair& pair, const std::vector<std::string>& targets, int rate) {
  std::unique_ptr<hostlore::EchoSweep> echo;
  pair.InClient([&] {
    auto opened = hostlore::OpenIcmpSweep(hostlore::EchoRequest{});
    if (opened.ok()) echo = std::move(opened).value();
  });
  if (echo == nullptr) return {};
  const double cpu_start = CpuSeconds();
  const Clock::time_point start = Clock::now();
  hostlore::fleet::TargetSweep sweep(*echo, targets, rate, 16);
  Sweep result;
  while (!sweep.Finished()) {
    std::vector<pollfd> fds;
    for (int fd : sweep.Fds()) fds.push_back({fd, POLLIN, 0});
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(
        std::min(sweep.NextWake(), Clock::now() + std::chrono::milliseconds(100)) - Clock::now());
    ::poll(fds.data(), fds.size(), static_cast<int>(std::max<int64_t>(0, wait.count())));
    for (const auto& outcome : sweep.Step()) {
      if (outcome.kind == hostlore::fleet::SweepOutcome::Kind::kAnswered) ++result.answered;
    }
    if (sweep.counts().sent == targets.size() && result.send_seconds == 0) {
      result.send_seconds = std::chrono::duration<double>(Clock::now() - start).count();
    }
  }
  result.wall_seconds = std::chrono::duration<double>(Clock::now() - start).count();
  result.cpu_seconds = CpuSeconds() - cpu_start;
  return result;
}

std::vector<int> Rates(const char* text) {
  std::vector<int> rates;
  std::stringstream list(text);
  for (std::string item; std::getline(list, item, ',');) rates.push_back(std::atoi(item.c_str()));
  return rates;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<int> rates = Rates(argc > 1 ? argv[1] : "1000,3000,10000,20000,30000");
  std::string why_not;
  const std::unique_ptr<NamespacePair> pair = NamespacePair::Create(why_not);
  if (pair == nullptr) {
    std::printf("skipped: %s\n", why_not.c_str());
    return 0;
  }
  const std::string client = "ip -n " + pair->client_namespace() + " ";
  const std::string peer = "ip -n " + pair->peer_namespace() + " ";
  if (!Run(peer + "route add local 10.214.0.0/16 dev lo") || !Run(client + "route add 10.214.0.0/16 via 10.213.1.2") ||
      !Run(client + "addr add 10.215.0.1/20 dev hl-client")) {
    std::printf("skipped: the benchmark's routes cannot be set up\n");
    return 0;
  }
  // No more specific route exists in the client, so a sample of each range
  // vouches for all of it.
  std::vector<Ipv4Address> sample;
  for (int i = 1; i < 65536; i += 257) sample.push_back({10, 214, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)});
  for (int i = 2; i < 4095; i += 97) sample.push_back({10, 215, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)});
  if (!pair->AllLeaveThroughOwnVeth(sample)) {
    std::printf("skipped: the benchmark's addresses would not stay in its namespaces\n");
    return 0;
  }

  std::printf("routed (10.214.0.0/16, every address answers):\n");
  for (int rate : rates) {
    std::vector<std::string> targets;
    for (int i = 1; i < 65535 && static_cast<int>(targets.size()) < rate * 3; ++i) {
      targets.push_back("10.214." + std::to_string(i >> 8) + "." + std::to_string(i & 255));
    }
    const Sweep sweep = SweepFrom(*pair, targets, rate);
    std::printf("  --rate %5d: %5zu sent in %.2f s (%.0f a second), %5zu answered, %zu lost; CPU %.2f s\n", rate,
                targets.size(), sweep.send_seconds, targets.size() / std::max(sweep.send_seconds, 1e-3),
                sweep.answered, targets.size() - sweep.answered, sweep.cpu_seconds);
    std::fflush(stdout);
  }

  std::string addresses;
  for (int i = 10; i < 4095; i += 10) {
    addresses += "addr add 10.215." + std::to_string(i >> 8) + "." + std::to_string(i & 255) + "/20 dev hl-peer\n";
  }
  std::FILE* batch = ::popen((peer + "-batch - >/dev/null 2>&1").c_str(), "w");
  std::fputs(addresses.c_str(), batch);
  ::pclose(batch);
  std::vector<std::string> link;
  for (int i = 2; i < 4095; ++i) link.push_back("10.215." + std::to_string(i >> 8) + "." + std::to_string(i & 255));
  std::printf("on-link (10.215.0.0/20, %zu addresses, 409 answer):\n", link.size());
  for (int rate : {300, 1000, 3000}) {
    Run(client + "neigh flush all");
    const Sweep sweep = SweepFrom(*pair, link, rate);
    std::printf("  --rate %5d: %zu answered of 409 in %.1f s\n", rate, sweep.answered, sweep.wall_seconds);
    std::fflush(stdout);
  }
  return 0;
}
