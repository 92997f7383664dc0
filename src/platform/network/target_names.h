// The host names by which the network backends authenticate to a target.
//
// A run reaches its target at the address that answered the echo, and that
// address is what the inventory stores. Kerberos, however, has no service
// principal for an address (cifs/NAME, HTTP/NAME): to a Kerberos-only
// target the backends present the target's host name instead, chosen here:
//   1. the name the run looked the target up by, when it is a host name and
//      resolves to the address;
//   2. otherwise the address's reverse-lookup name, when that name resolves
//      back to the address;
//   3. otherwise none: the target is reached by its address alone.
// A name is used only when it leads to the address itself, so that the
// backends never talk to another host than the one that answered.
//
// Not safe for concurrent use: the agent examines one target on one thread.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/echo/echo.h"

namespace hostlore {

class TargetNames {
 public:
  // Remembers `name` as a name the run looked a target up by (the echo's
  // lookup of the command line's target). Dotted addresses are ignored.
  void Noted(const std::string& name);

  // The host name to authenticate to `host` by (rules above); `host`
  // itself when it is not a dotted IPv4 address; empty when the address
  // has no name. Looked up once per address.
  const std::string& NameFor(const std::string& host);

 private:
  std::vector<std::string> noted_;
  std::map<std::string, std::string> names_;  // by address
};

// `echo` with every name it looks up noted in `names`.
std::unique_ptr<Echo> NotingLookups(std::unique_ptr<Echo> echo,
                                    std::shared_ptr<TargetNames> names);

// Whether `text` is a dotted IPv4 address (four decimal numbers 0 to 255).
bool IsDottedAddress(const std::string& text);

}  // namespace hostlore
