// Ending the run.
//
// A stage that ends the process "at once" throws ProcessEnd; the agent's
// entry catches it and returns the exit status, so that every handle the
// scan state owns is released on the way out.
#pragma once

namespace hostlore {

struct ScanState;

// Exit statuses of the agent.
inline constexpr int kExitNormal = 0;       // normal end, no failure path taken
inline constexpr int kExitFailure = 1;      // a failure path sent "Complete"
inline constexpr int kExitCommandLine = 2;  // the command line could not be read

struct ProcessEnd {
  int exit_status;
};

// 1 when a failure path has sent its "Complete" line, 0 otherwise.
int ExitStatusOf(const ScanState& state);

// Ends the run now with ExitStatusOf(state).
[[noreturn]] void EndProcess(const ScanState& state);

}  // namespace hostlore
