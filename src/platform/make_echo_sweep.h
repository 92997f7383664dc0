// The echo sweep of this process, for a caller that checks many targets.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/echo/echo_sweep.h"
#include "platform/status.h"

namespace hostlore {

// A sweep of the agent's echo (EchoRequest's defaults) over the lab when the
// environment variable HOSTLORE_LAB names a folder, over the network
// otherwise, so that it answers as the agents' own echo would. `names` are
// the texts that Resolve will be asked about (the lab looks them up at once).
// Failure: the lab cannot be loaded, or this process may not send ICMP; the
// description says why.
Result<std::unique_ptr<EchoSweep>> MakeEchoSweep(const std::vector<std::string>& names);

}  // namespace hostlore
