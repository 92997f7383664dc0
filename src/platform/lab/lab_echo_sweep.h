// The echo sweep over the lab.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/echo/echo_sweep.h"
#include "platform/status.h"

namespace hostlore {

// A sweep that answers as the lab's own echo does: a computer set to reply
// answers at once with its status, and a silent computer, like an address
// without one, is answered as no reply once the request's timeout has passed
// (no thread waits for it).
//
// The lab of `folder` is loaded in a child process, which looks up `names`
// and hands back only what each resolves to and how the computer there
// answers: a lab of thousands of computers would otherwise stay in this
// process's memory, and the kernel counts a process's peak memory into that
// of every program it starts. Like every whole load of a lab, it leaves the
// lab's index for the agents (lab_index.h). Resolve answers for the texts in
// `names` only; any other text does not resolve.
// Failure: the lab cannot be loaded (the description says why), or the child
// could not be run.
Result<std::unique_ptr<EchoSweep>> OpenLabEchoSweep(const std::string& folder,
                                                    const std::vector<std::string>& names,
                                                    const EchoRequest& request);

}  // namespace hostlore
