// Checks made in a child process, so that what they load (the lab, the
// database libraries and their caches) never weighs on the runner, whose
// memory the kernel counts into every agent it starts.
#pragma once

#include <functional>
#include <string>

#include "platform/status.h"

namespace hostlore::fleet {

// Runs `check` in a forked child and returns its result: its description
// on failure, or how the child ended when it could not say (`what` names the
// check then). Call it before the runner starts any thread.
Status RunCheckInChild(const std::string& what, const std::function<Status()>& check);

}  // namespace hostlore::fleet
