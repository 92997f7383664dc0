// Ending the agent on a termination signal (SIGTERM, SIGINT, SIGHUP): the
// fleet runner sends SIGTERM when an agent runs out of time or the runner
// is interrupted, and SIGKILL two seconds later.
//
// The scan's thread may be blocked in a network or database call for
// seconds, so it is not the one that reacts: a thread of the watch does,
// while the scan's thread stays where it is. It closes the run's record of
// target changes (the scan's thread then changes nothing more), lets a
// change request already on its way land (for at most a third of the
// bound), puts back what the record holds through a service manager of its
// own (a session of its own on the network), logs the end, sends the "Complete" line and ends
// the process with exit status 1 — within kTerminationBound of the signal,
// whatever the restore is waiting for; a restore that did not finish by then
// is logged as leaving the target changed.
#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "scan/target_changes.h"
#include "util/unique_fd.h"

namespace hostlore {

struct ScanState;

inline constexpr std::chrono::milliseconds kTerminationBound{1500};

// Blocks the termination signals in the calling thread and in every thread
// it starts from then on, so that only the watch receives them. main()
// calls it first, before any library can start a thread.
void BlockTerminationSignals();

class TerminationWatch {
 public:
  // Starts watching. Takes from `state` now what its thread will need:
  // TempDir, CallerIndex, ProgressWindow, the target as the command line
  // names it, and the change record (which holds the service manager of its
  // own that the restore uses).
  explicit TerminationWatch(ScanState& state);
  TerminationWatch(const TerminationWatch&) = delete;
  TerminationWatch& operator=(const TerminationWatch&) = delete;
  // Stops watching; a signal that arrives afterwards waits, blocked, for
  // the process to end by itself.
  ~TerminationWatch();

 private:
  void Watch();
  [[noreturn]] void EndRun(int signal_number);

  std::string temp_dir_;
  int16_t caller_index_;
  int32_t progress_window_;
  std::string target_;
  std::shared_ptr<TargetChanges> changes_;
  UniqueFd signals_;
  UniqueFd stop_;
  std::thread thread_;
};

}  // namespace hostlore
