// The five queries of the WMI inventory over WinRM, against the tests'
// WS-Management service answering for lab/pc042.json with a fixed delay per
// reply, Kerberos from a throwaway KDC, message encryption over HTTP.
//
//   wmi_bench [RUNS] [DELAY_MS]      (default 5 runs, 20 ms)
//
// A run is what the agent does: connect, then each query walked to its end
// and every instance's properties read. Each run is measured twice: with the
// default page size, and with one instance per page to show what paging
// would cost. The service logs every HTTP request, so the counts are round
// trips as the wire sees them.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>

#include "platform/kdc_realm.h"
#include "platform/network/wsman/winrm_wmi.h"
#include "platform/wsman_peer_process.h"
#include "support/test_support.h"

namespace hostlore {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr const char* kQueries[] = {
    "Select * From Win32_ComputerSystem", "Select * From Win32_OperatingSystem",
    "Select * From Win32_Processor", "Select * From Win32_BIOS",
    "Select * From Win32_LogicalDisk"};

std::map<std::string, long> CountLines(const std::string& path) {
  std::map<std::string, long> counts;
  std::ifstream file(path);
  for (std::string line; std::getline(file, line);) ++counts[line];
  return counts;
}

// One run; false when anything failed (told on standard error).
bool Run(const wsman::WinrmOptions& options, long& instances) {
  Result<std::unique_ptr<WmiConnection>> connection =
      wsman::NewWinrmWmi(options)->Connect("127.0.0.1");
  if (!connection.ok()) {
    std::fprintf(stderr, "connect: %s\n", connection.status().description().c_str());
    return false;
  }
  for (const char* wql : kQueries) {
    Result<std::unique_ptr<WmiObjectSet>> set = connection.value()->ExecQuery(wql);
    if (!set.ok()) {
      std::fprintf(stderr, "%s: %s\n", wql, set.status().description().c_str());
      return false;
    }
    while (true) {
      Result<std::unique_ptr<WmiObject>> next = set.value()->Next();
      if (!next.ok()) {
        std::fprintf(stderr, "%s: %s\n", wql, next.status().description().c_str());
        return false;
      }
      if (!next.value()) break;
      ++instances;
      (void)next.value()->Get("Caption");
      (void)next.value()->Get("Name");
    }
  }
  return true;
}

int Main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 5;
  const int delay_ms = argc > 2 ? std::atoi(argv[2]) : 20;
  std::string why_not;
  std::unique_ptr<test::KdcRealm> realm = test::KdcRealm::Start(why_not);
  if (!realm) {
    std::fprintf(stderr, "wmi_bench: no KDC: %s\n", why_not.c_str());
    return 1;
  }
  test::TempFolder folder;
  const std::string ccache = (folder.path() / "ccache").string();
  ::setenv("KRB5_CONFIG", realm->config().c_str(), 1);
  ::setenv("KRB5CCNAME", ("FILE:" + ccache).c_str(), 1);
  ::unsetenv("HOSTLORE_AUTH_FILE");
  if (!realm->Kinit(ccache, "1h")) {
    std::fprintf(stderr, "wmi_bench: kinit failed\n");
    return 1;
  }
  test::WsmanPeerOptions peer_options;
  peer_options.computer = std::string(HOSTLORE_SOURCE_DIR) + "/lab/pc042.json";
  peer_options.delay_ms = delay_ms;
  peer_options.log = (folder.path() / "requests.log").string();
  peer_options.env = {{"KRB5_CONFIG", realm->config()},
                      {"KRB5_KTNAME", realm->service_keytab()}};
  std::unique_ptr<test::WsmanPeerProcess> peer =
      test::WsmanPeerProcess::Start(peer_options, why_not);
  if (!peer) {
    std::fprintf(stderr, "wmi_bench: %s\n", why_not.c_str());
    return 1;
  }

  std::printf("five queries over WinRM (HTTP, Kerberos, encrypted), %d ms per reply, %d runs\n",
              delay_ms, runs);
  std::printf("%-14s %10s %8s %10s %8s %6s %10s\n", "page size", "instances", "HTTP",
              "Negotiate", "Enum", "Pull", "wall ms");
  for (const int page : {100, 1}) {
    wsman::WinrmOptions options;
    options.endpoints = {wsman::Endpoint{false, peer->port()}};
    options.max_elements = page;
    for (int run = 0; run < runs; ++run) {
      const std::map<std::string, long> before = CountLines(peer_options.log);
      long instances = 0;
      const SteadyClock::time_point start = SteadyClock::now();
      if (!Run(options, instances)) return 1;
      const double ms =
          std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
      std::map<std::string, long> after = CountLines(peer_options.log);
      for (const auto& [what, count] : before) after[what] -= count;
      const long negotiate = after["auth"];
      const long messages = after["Identify"] + after["Enumerate"] + after["Pull"];
      // A Negotiate leg over HTTP carries no message of its own.
      std::printf("%-14d %10ld %8ld %10ld %8ld %6ld %10.1f\n", page, instances,
                  negotiate + messages, negotiate, after["Enumerate"], after["Pull"], ms);
    }
  }
  return 0;
}

}  // namespace
}  // namespace hostlore

int main(int argc, char** argv) { return hostlore::Main(argc, argv); }
