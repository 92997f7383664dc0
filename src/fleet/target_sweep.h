// The runner's echo sweep: every target's name is looked up and sent the
// agent's echo, at a set pace, and each target is reported back as soon as
// its fate is known.
#pragma once

#include <chrono>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "fleet/fleet_state.h"
#include "fleet/name_resolver.h"
#include "platform/echo/echo_sweep.h"

namespace hostlore::fleet {

// What became of one target of the sweep.
struct SweepOutcome {
  enum class Kind { kAnswered, kSilent, kUnknownName };
  size_t target = 0;  // its position in the list
  Kind kind = Kind::kSilent;
  std::string address;  // dotted, when it answered
  Clock::time_point sent{};  // when its echo went out (or its lookup ended)
};

class TargetSweep {
 public:
  // Looks up `targets` on `lookup_threads` threads and sends their echoes
  // through `echo`, at most `rate` a second. `echo` and `targets` must
  // outlive the sweep; Step and the rest are for the runner's thread alone.
  TargetSweep(EchoSweep& echo, const std::vector<std::string>& targets, int rate, int lookup_threads);

  // Descriptors to poll for input (-1 entries are ignored by poll).
  std::vector<int> Fds() const;
  // Takes what was looked up, sends what the pace allows and returns the
  // targets whose fate is known now, each once.
  std::vector<SweepOutcome> Step();
  // When Step has work at the latest (the next send, the next echo's
  // timeout); Clock::time_point::max() when it waits on nothing but Fds.
  Clock::time_point NextWake() const;
  // No further lookup or echo; echoes in flight are forgotten.
  void Stop();
  // Every target has its outcome, or the sweep was stopped.
  bool Finished() const;
  // Sent, answered, silent and unknown so far.
  const SweepCounts& counts() const { return counts_; }

 private:
  EchoSweep& echo_;
  const std::vector<std::string>& targets_;
  const NameResolver::Lookup lookup_;
  std::unique_ptr<NameResolver> resolver_;
  std::deque<std::pair<size_t, Ipv4Address>> to_send_;
  std::vector<Clock::time_point> sent_;  // by target
  const Clock::duration interval_;
  Clock::time_point next_send_;
  SweepCounts counts_;
  bool stopped_ = false;
};

}  // namespace hostlore::fleet
