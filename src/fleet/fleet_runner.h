// Runs one agent per target, at most `jobs` at once, and follows them through
// the shared progress pipe until every target is done or the fleet is
// interrupted.
//
// Row identity: the caller index of an agent is its job slot (0 .. jobs - 1),
// not the target's position, so that a list of any length fits the agent's
// 16-bit index. A slot is given to the next target only after its previous
// agent has been reaped and the pipe drained, so a line can never be credited
// to the wrong target.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "fleet/fleet_state.h"
#include "fleet/fleet_view.h"
#include "platform/status.h"

namespace hostlore::fleet {

inline constexpr int kMaxJobs = 4096;

struct RunnerOptions {
  std::string agent_path;
  std::string server;  // field 2 of every command line
  bool user_only = false;
  int jobs = 1;  // 1 .. kMaxJobs
  // An agent still running after this long is ended; zero: never.
  std::chrono::milliseconds timeout{0};
};

// Runs the fleet to its end. SIGINT, SIGTERM and SIGHUP end every running
// agent (SIGTERM, then SIGKILL two seconds later, or at once on a second
// signal) and start no further one; Run then returns normally so that the
// caller can print the summary. Failure only when the runner cannot set
// itself up (pipe, signals, work folder); `state` then holds no results.
Status RunFleet(const RunnerOptions& options, FleetState& state, FleetView& view);

}  // namespace hostlore::fleet
