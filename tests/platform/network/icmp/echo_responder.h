// A peer whose echo replies come late: it answers the echo requests for the
// addresses it is given, each after a delay of its own, in place of the peer
// namespace's kernel (told to ignore echo requests), so that a target can
// answer just before or just after the 2000 ms an echo waits.
#pragma once

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/echo/echo.h"
#include "platform/network/namespace_pair.h"
#include "util/unique_fd.h"

namespace hostlore::testing {

class EchoResponder {
 public:
  // Gives the peer every address of `delays` (on its loopback) and answers
  // it after its delay; the peer answers no other echo from then on.
  // nullptr, with `why_not`, when that cannot be set up.
  static std::unique_ptr<EchoResponder> Start(const NamespacePair& pair,
                                               const std::map<Ipv4Address, std::chrono::milliseconds>& delays,
                                               std::string& why_not);
  ~EchoResponder();

 private:
  EchoResponder() = default;
  void Serve();

  std::vector<std::pair<UniqueFd, std::chrono::milliseconds>> sockets_;  // one per address
  UniqueFd stop_;
  std::thread thread_;
};

}  // namespace hostlore::testing
