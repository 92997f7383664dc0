// One target of the fleet: what its agent has reported so far and, once the
// agent has ended, how its run is classified.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

#include "fleet/progress_line.h"

namespace hostlore::fleet {

using Clock = std::chrono::steady_clock;

enum class Outcome {
  kNotStarted,     // the fleet was interrupted before its agent started
  kStored,         // normal end with an answering target
  kNotAnswering,   // normal end: no answer to the echo (with an agent: or no address)
  kUnknownName,    // the runner found no address for the name; its contact was recorded
  kAccessRefused,  // the registry could not be read
  kFailed,         // another failure; the detail holds the agent's log line
  kTimedOut,       // ended by --timeout
  kCrashed,        // ended by a signal that the runner did not send
  kInterrupted,    // ended because the fleet was interrupted
};

// The outcome as it is shown and written to reports ("not answering", ...).
std::string_view OutcomeText(Outcome outcome);

enum class RunState { kWaiting, kRunning, kFinished };

// How an agent process ended, as the runner saw it.
struct AgentEnd {
  bool exited = false;  // exit status valid; otherwise `signal` ended it
  int exit_status = 0;
  int signal = 0;
  bool timed_out = false;    // the runner ended it for --timeout
  bool interrupted = false;  // the runner ended it for Ctrl-C
  std::vector<std::string> log_lines;  // its Kelvarn.log, time stamps kept
  long max_rss_kb = 0;                 // its peak resident memory
};

struct TargetRun {
  std::string target;  // as given on the command line
  // The latest TargetName from its progress lines: the agent replaces the
  // given name by the one the target reports for itself.
  std::string name;
  std::string address;  // empty until the target answered the echo
  double percent = 0;
  int complete_lines = 0;
  RunState state = RunState::kWaiting;
  Clock::time_point started{};
  Clock::time_point ended{};

  Outcome outcome = Outcome::kNotStarted;
  std::string detail;  // log line, signal or other explanation; may be empty
  std::vector<std::string> log_lines;
  long max_rss_kb = 0;  // the agent's peak resident memory; 0: no agent ran

  // Folds one progress line of this target's agent into the run.
  void Apply(const ProgressLine& line);
  // Classifies the ended run; `now` is the time of its end.
  void Finish(const AgentEnd& end, Clock::time_point now);
  // A run that never got an agent (spawn failure, interrupted before start).
  void FinishWithout(Outcome outcome, std::string why, Clock::time_point now);

  // The current stage in a few words ("echo", "software", ...).
  std::string_view Stage() const;
  double Seconds() const;
  // Whether this run keeps the fleet's exit status at 0.
  bool Ok() const {
    return outcome == Outcome::kStored || outcome == Outcome::kNotAnswering ||
           outcome == Outcome::kUnknownName;
  }
};

// "YYYY/MM/DD HH:MM:SS,WHAT,DETAIL" → "WHAT,DETAIL" (other text unchanged).
std::string WithoutTimeStamp(std::string_view log_line);

}  // namespace hostlore::fleet
