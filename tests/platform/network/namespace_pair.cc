#include "platform/network/namespace_pair.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>
#include <vector>

namespace hostlore::testing {
namespace {

constexpr const char* kClientVeth = "hl-client";

bool RunQuietly(const std::string& command) {
  const int status = std::system((command + " >/dev/null 2>&1").c_str());
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Standard output of `command`, and whether it exited with 0.
bool CaptureOutput(const std::string& command, std::string& output) {
  FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return false;
  char chunk[256];
  size_t size;
  while ((size = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) output.append(chunk, size);
  const int status = ::pclose(pipe);
  return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string UniqueBaseName() {
  std::random_device random;
  return "hostlore-echo-" + std::to_string(::getpid()) + "-" + std::to_string(random() % 100000);
}

}  // namespace

NamespacePair::NamespacePair(Key, const std::string& base_name)
    : client_(base_name + "-client"), peer_(base_name + "-peer") {}

std::unique_ptr<NamespacePair> NamespacePair::Create(std::string& why_not) {
  if (::geteuid() != 0) {
    why_not = "creating network namespaces needs root";
    return nullptr;
  }
  if (!RunQuietly("ip -V")) {
    why_not = "the `ip` command (iproute2) is not installed";
    return nullptr;
  }
  auto pair = std::make_unique<NamespacePair>(Key{}, UniqueBaseName());
  if (!pair->SetUp(why_not)) return nullptr;  // the destructor removes what was made
  return pair;
}

bool NamespacePair::SetUp(std::string& why_not) {
  const std::string c = "ip -n " + client_ + " ";
  const std::string p = "ip -n " + peer_ + " ";
  const std::vector<std::string> commands = {
      "ip netns add " + client_,
      "ip netns add " + peer_,
      c + "link add " + kClientVeth + " type veth peer name hl-peer netns " + peer_,
      c + "link set lo up",
      c + "addr add 10.213.1.1/24 dev " + kClientVeth,
      c + "link set " + kClientVeth + " up",
      c + "route add 10.213.2.0/24 via 10.213.1.2",
      c + "route add 10.213.3.0/24 via 10.213.1.2",
      c + "route add unreachable 10.213.4.0/24",
      p + "link set lo up",
      p + "addr add 10.213.1.2/24 dev hl-peer",
      p + "link set hl-peer up",
      // A link that leads nowhere: its other end has no address.
      p + "link add hl-void type veth peer name hl-void-end",
      p + "addr add 10.213.3.1/24 dev hl-void",
      p + "link set hl-void up",
      p + "link set hl-void-end up",
      p + "route add unreachable 10.213.2.0/24",
      "ip netns exec " + peer_ + " sh -c 'echo 1 > /proc/sys/net/ipv4/ip_forward'",
      "ip netns exec " + client_ +
          " sh -c 'echo \"0 2147483647\" > /proc/sys/net/ipv4/ping_group_range'",
  };
  for (const std::string& command : commands) {
    if (!RunQuietly(command)) {
      why_not = "cannot build the test's network namespaces: `" + command + "` failed";
      return false;
    }
  }
  return true;
}

NamespacePair::~NamespacePair() {
  RunQuietly("ip netns delete " + client_);
  RunQuietly("ip netns delete " + peer_);
}

bool NamespacePair::InClient(const std::function<void()>& work) const {
  return InNamespace(client_, {}, work);
}

bool NamespacePair::InClientWithBinds(const std::vector<std::pair<std::string, std::string>>& binds,
                                      const std::function<void()>& work) const {
  return InNamespace(client_, binds, work);
}

bool NamespacePair::InPeer(const std::function<void()>& work) const { return InNamespace(peer_, {}, work); }

bool NamespacePair::InNamespace(const std::string& name,
                                const std::vector<std::pair<std::string, std::string>>& binds,
                                const std::function<void()>& work) {
  const int fd = ::open(("/run/netns/" + name).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  bool entered = false;
  std::thread inside([&] {
    entered = ::setns(fd, CLONE_NEWNET) == 0;
    // A mount namespace of this thread's own: unshare() gives the calling
    // thread a private copy, and the bind stays out of the machine's view.
    if (entered && !binds.empty()) {
      entered = ::unshare(CLONE_NEWNS) == 0 &&
                ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
      for (const auto& [source, target] : binds) {
        entered = entered && ::mount(source.c_str(), target.c_str(), nullptr, MS_BIND, nullptr) == 0;
      }
    }
    if (entered) work();
  });
  inside.join();
  ::close(fd);
  return entered;
}

bool NamespacePair::LeavesThroughOwnVeth(const Ipv4Address& address) const {
  std::string route;
  if (!CaptureOutput("ip -n " + client_ + " route get " + FormatDottedAddress(address), route)) {
    return false;
  }
  return route.find(std::string(" dev ") + kClientVeth + " ") != std::string::npos;
}

bool NamespacePair::AllLeaveThroughOwnVeth(const std::vector<Ipv4Address>& addresses) const {
  std::string lines;
  for (const Ipv4Address& address : addresses) lines += "route get " + FormatDottedAddress(address) + "\\n";
  std::string routes;
  if (!CaptureOutput("printf '" + lines + "' | ip -n " + client_ + " -batch -", routes)) return false;
  size_t through_own = 0;
  const std::string own = std::string(" dev ") + kClientVeth + " ";
  for (size_t at = 0; (at = routes.find(own, at)) != std::string::npos; at += own.size()) ++through_own;
  return through_own == addresses.size();
}

bool NamespacePair::HasNoRouteTo(const Ipv4Address& address) const {
  std::string route;
  return !CaptureOutput("ip -n " + client_ + " route get " + FormatDottedAddress(address), route);
}

bool NamespacePair::HasDefaultRoute() const {
  std::string routes;
  // A failing `ip` counts as a default route: nothing can be vouched for.
  if (!CaptureOutput("ip -n " + client_ + " route show default", routes)) return true;
  return !routes.empty();
}

}  // namespace hostlore::testing
