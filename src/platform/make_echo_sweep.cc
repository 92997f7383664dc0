#include "platform/make_echo_sweep.h"

#include <cstdlib>

#include "platform/lab/lab_echo_sweep.h"
#include "platform/network/icmp/icmp_sweep.h"

namespace hostlore {

Result<std::unique_ptr<EchoSweep>> MakeEchoSweep(const std::vector<std::string>& names) {
  if (const char* lab = ::secure_getenv("HOSTLORE_LAB")) return OpenLabEchoSweep(lab, names, EchoRequest{});
  return OpenIcmpSweep(EchoRequest{});
}

}  // namespace hostlore
