// The five queries of the WMI inventory over WinRM, against the tests'
// WS-Management service answering for lab/pc042.json with a fixed delay per
// reply, Kerberos from a throwaway KDC: message encryption over HTTP, and
// HTTPS with the context bound to the channel.
//
//   wmi_bench [RUNS] [DELAY_MS]      (default 5 runs, 20 ms)
//
// A run is what the agent does: connect, then each query walked to its end
// and every instance's properties read. Over HTTP each run is measured twice:
// with the default page size, and with one instance per page to show what
// paging would cost. The service logs every HTTP request, so the counts are
// round trips as the wire sees them.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <map>
#include <string>

#include "platform/network/kdc_realm.h"
#include "platform/network/wsman/winrm_wmi.h"
#include "platform/network/wsman/wsman_peer_process.h"
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

// Prints a row per run and page size against the service on `port` that
// logs to `log` (over HTTPS trusting the authority of `ca_file`); false when
// a run failed.
bool Measure(bool https, int port, const std::string& ca_file, const std::string& log, int runs,
             std::initializer_list<int> pages) {
  std::printf("\n%s\n",
              https ? "HTTPS, the context bound to the channel" : "HTTP, messages encrypted");
  std::printf("%-10s %10s %6s %10s %10s %6s %6s %10s\n", "page size", "instances", "HTTP",
              "anonymous", "Negotiate", "Enum", "Pull", "wall ms");
  for (const int page : pages) {
    wsman::WinrmOptions options;
    options.endpoints = {wsman::Endpoint{https, port}};
    options.max_elements = page;
    options.http.ca_file = ca_file;
    for (int run = 0; run < runs; ++run) {
      const std::map<std::string, long> before = CountLines(log);
      long instances = 0;
      const SteadyClock::time_point start = SteadyClock::now();
      if (!Run(options, instances)) return false;
      const double ms =
          std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
      std::map<std::string, long> after = CountLines(log);
      for (const auto& [what, count] : before) after[what] -= count;
      const long anonymous = after["anonymous"];
      const long negotiate = after["auth"];
      const long messages = after["Identify"] + after["Enumerate"] + after["Pull"];
      // Over HTTP a Negotiate leg carries no message of its own; over HTTPS
      // Kerberos's one leg carries the first message.
      const long requests = anonymous + messages + (https ? negotiate - 1 : negotiate);
      std::printf("%-10d %10ld %6ld %10ld %10ld %6ld %6ld %10.1f\n", page, instances, requests,
                  anonymous, negotiate, after["Enumerate"], after["Pull"], ms);
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
  std::printf("five queries over WinRM (Kerberos), %d ms per reply, %d runs\n", delay_ms, runs);
  if (!Measure(false, peer->port(), "", peer_options.log, runs, {100, 1})) return 1;

  const std::string dir = folder.path().string();
  const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
  folder.Write("san.ext", "subjectAltName=IP:127.0.0.1\n");
  if (!test::RunQuietly("cd '" + dir + "' && openssl req -x509" + ec +
                        "-keyout ca.key -out ca.pem -days 1 -subj '/CN=Hostlore Bench CA'") ||
      !test::RunQuietly("cd '" + dir + "' && openssl req" + ec +
                        "-keyout peer.key -out peer.csr -subj '/CN=127.0.0.1' && openssl x509 "
                        "-req -in peer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out "
                        "peer.pem -days 1 -extfile san.ext")) {
    std::fprintf(stderr, "wmi_bench: openssl cannot make the certificates\n");
    return 1;
  }
  peer_options.tls_cert = dir + "/peer.pem";
  peer_options.tls_key = dir + "/peer.key";
  peer_options.strict_channel_binding = true;
  peer_options.log = dir + "/tls-requests.log";
  std::unique_ptr<test::WsmanPeerProcess> tls_peer =
      test::WsmanPeerProcess::Start(peer_options, why_not);
  if (!tls_peer) {
    std::fprintf(stderr, "wmi_bench: %s\n", why_not.c_str());
    return 1;
  }
  return Measure(true, tls_peer->port(), dir + "/ca.pem", peer_options.log, runs, {100}) ? 0 : 1;
}

}  // namespace
}  // namespace hostlore

int main(int argc, char** argv) { return hostlore::Main(argc, argv); }
