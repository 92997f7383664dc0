// Two network namespaces of a test's own, joined by a veth pair, so that real
// ICMP can be exercised without a packet leaving the test's namespaces:
//
//   client 10.213.1.1/24 ==veth== peer 10.213.1.2/24 (forwards)
//
// In the client, 10.213.2.0/24 and 10.213.3.0/24 are routed through the peer
// and 10.213.4.0/24 is unreachable. The peer answers 10.213.2.0/24 with "host
// unreachable" and forwards 10.213.3.0/24 into a link where no host lives.
// 10.213.1.3 is on the client's link but no one has it. The client lets every
// group open ICMP datagram sockets (net.ipv4.ping_group_range).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/echo/echo.h"

namespace hostlore::testing {

inline constexpr Ipv4Address kClientAddress{10, 213, 1, 1};
inline constexpr Ipv4Address kPeerAddress{10, 213, 1, 2};
inline constexpr Ipv4Address kVacantAddress{10, 213, 1, 3};
inline constexpr Ipv4Address kUnreachableHost{10, 213, 2, 5};
inline constexpr Ipv4Address kBeyondPeer{10, 213, 3, 5};
inline constexpr Ipv4Address kNoRouteHost{10, 213, 4, 5};

class NamespacePair {
  // Only Create makes a pair, and it makes it with std::make_unique.
  class Key {
    friend class NamespacePair;
    Key() = default;
  };

 public:
  // nullptr with `why_not` filled when this process cannot make namespaces
  // (not root, no `ip` command, no veth support).
  static std::unique_ptr<NamespacePair> Create(std::string& why_not);

  NamespacePair(Key, const std::string& base_name);
  NamespacePair(const NamespacePair&) = delete;
  NamespacePair& operator=(const NamespacePair&) = delete;
  // Deletes both namespaces, and with them every interface and route.
  ~NamespacePair();

  // Runs `work` on a thread that has entered the client namespace: sockets
  // it opens and names it looks up belong to that namespace (an open socket
  // stays there whichever thread uses it later). False when the namespace
  // could not be entered; `work` has not run then.
  bool InClient(const std::function<void()>& work) const;
  // The same, in a mount namespace of the thread's own (which processes it
  // starts inherit) where each {source, target} of `binds` is bound over
  // its target: a hosts file over /etc/hosts, say, so that names resolve as
  // the test says, the machine's own files untouched.
  bool InClientWithBinds(const std::vector<std::pair<std::string, std::string>>& binds,
                         const std::function<void()>& work) const;
  // The same in the peer namespace.
  bool InPeer(const std::function<void()>& work) const;

  // True when `ip route get` in the client sends `address` through the
  // client's own veth, i.e. an echo to it stays inside our namespaces.
  bool LeavesThroughOwnVeth(const Ipv4Address& address) const;
  // The same for every one of `addresses`, asked of one `ip` process.
  bool AllLeaveThroughOwnVeth(const std::vector<Ipv4Address>& addresses) const;
  // True when the client has no route at all to `address`.
  bool HasNoRouteTo(const Ipv4Address& address) const;
  // True when the client has a default route (it has none unless someone
  // added one): without it, nothing outside 10.213.0.0/16 can be reached.
  bool HasDefaultRoute() const;

  // The names of the namespaces, for `ip netns exec` of a program there.
  const std::string& client_namespace() const { return client_; }
  const std::string& peer_namespace() const { return peer_; }

 private:
  bool SetUp(std::string& why_not);
  static bool InNamespace(const std::string& name,
                          const std::vector<std::pair<std::string, std::string>>& binds,
                          const std::function<void()>& work);

  std::string client_;
  std::string peer_;
};

}  // namespace hostlore::testing
