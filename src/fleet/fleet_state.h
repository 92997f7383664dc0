// What the runner knows about the whole fleet at one moment; the views and
// the summary read it, only the runner changes it.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "fleet/target_run.h"

namespace hostlore::fleet {

struct FleetCounts {
  size_t total = 0;
  size_t running = 0;
  size_t done = 0;
  size_t answering = 0;      // done, and the target answered the echo
  size_t not_answering = 0;  // done: no answer to the echo
  size_t unknown_name = 0;   // done: the name did not resolve
  size_t stored = 0;
  size_t failed = 0;         // done with any outcome but stored or not answering
};

// The runner's echo sweep so far (all zero with an agent per target).
struct SweepCounts {
  bool on = false;
  size_t sent = 0;
  size_t answered = 0;
  size_t silent = 0;
  size_t unknown_names = 0;
  size_t waiting = 0;    // answered, waiting for a job
  size_t recording = 0;  // silent or unknown, contact not yet recorded
};

struct FleetState {
  FleetState() = default;
  // One waiting run per target, in this order.
  explicit FleetState(const std::vector<std::string>& targets);

  std::vector<TargetRun> runs;  // in the order of the target list
  Clock::time_point started = Clock::now();
  size_t malformed_lines = 0;  // pipe lines that were not progress lines of a running agent
  size_t duplicates = 0;       // targets given more than once, left out of `runs`
  SweepCounts sweep;
  bool interrupted = false;

  FleetCounts Counts() const;
  // Seconds until every target is done, from the pace so far; negative while
  // nothing is done yet.
  double SecondsLeft() const;
};

}  // namespace hostlore::fleet
