#include "platform/make_echo_sweep.h"

#include <cstdlib>

#include "platform/lab/lab_echo_sweep.h"
#include "platform/network/icmp/icmp_sweep.h"

namespace hostlore {

Result<std::unique_ptr<EchoSweep>> MakeEchoSweep(const std::vector<std::string>& names) {
  if (const char* lab = ::secure_getenv("HOSTLORE_LAB")) return OpenLabEchoSweep(lab, names, EchoRequest{});
  Result<std::unique_ptr<EchoSweep>> sweep = OpenIcmpSweep(EchoRequest{});
  if (!sweep.ok()) {
    return Status::Failure(sweep.status().number(), "the echo sweep cannot start: " + sweep.status().description() +
                                                        " (--agent-per-target leaves the echo to each agent)");
  }
  return sweep;
}

}  // namespace hostlore
