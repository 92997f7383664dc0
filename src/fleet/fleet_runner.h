// Runs the agents of a fleet, at most `jobs` at once, and follows them
// through the shared progress pipe until every target is done or the fleet
// is interrupted.
//
// By default the runner first sends every target the agent's echo itself (an
// echo sweep, many in flight at once) and starts agents only for the targets
// that answer, each as soon as its reply arrives; for a target that does not
// answer, or whose name does not resolve, it records the contact as the
// agent would have. With agent_per_target every target gets an agent, which
// sends its own echo.
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
// Two seconds of echoes must fit the 65,535 sequence numbers of one socket.
inline constexpr int kMaxRate = 30000;

struct RunnerOptions {
  std::string agent_path;
  std::string server;  // field 2 of every command line
  bool user_only = false;
  int jobs = 1;  // 1 .. kMaxJobs
  // An agent still running after this long is ended; zero: never.
  std::chrono::milliseconds timeout{0};
  // Every target gets an agent, and no echo sweep is made.
  bool agent_per_target = false;
  int rate = 1;  // echoes a second, 1 .. kMaxRate
};

// Runs the fleet to its end. SIGINT, SIGTERM and SIGHUP stop the sweep, end
// every running agent (SIGTERM, then SIGKILL two seconds later, or at once on
// a second signal) and start no further one; a contact being recorded is
// finished. Run then returns normally so that the caller can print the
// summary. Failure only when the runner cannot set itself up (pipe, signals,
// work folder, the echo sweep); `state` then holds no results.
Status RunFleet(const RunnerOptions& options, FleetState& state, FleetView& view);

}  // namespace hostlore::fleet
