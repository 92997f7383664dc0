#include "fleet/target_sweep.h"

#include <algorithm>

namespace hostlore::fleet {
namespace {

// After a pause (the runner busy starting agents, say) the sweep catches up
// with at most this much of its pace at once.
constexpr auto kMostCatchUp = std::chrono::milliseconds(10);
// How long a sweep whose endpoint is full waits before it tries again.
constexpr auto kFullWait = std::chrono::milliseconds(5);

}  // namespace

TargetSweep::TargetSweep(EchoSweep& echo, const std::vector<std::string>& targets, int rate,
                         int lookup_threads)
    : echo_(echo),
      targets_(targets),
      lookup_([this](const std::string& name) { return echo_.Resolve(name); }),
      sent_(targets.size()),
      interval_(std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(1)) / std::max(rate, 1)),
      next_send_(Clock::now()) {
  counts_.on = true;
  resolver_ = std::make_unique<NameResolver>(targets_, lookup_, lookup_threads);
}

std::vector<int> TargetSweep::Fds() const { return {resolver_->fd(), echo_.WaitFd()}; }

std::vector<SweepOutcome> TargetSweep::Step() {
  std::vector<SweepOutcome> outcomes;
  if (stopped_) return outcomes;
  for (const NameResolver::Resolved& resolved : resolver_->Take()) {
    if (resolved.address) {
      to_send_.emplace_back(resolved.index, *resolved.address);
    } else {
      ++counts_.unknown_names;
      outcomes.push_back({resolved.index, SweepOutcome::Kind::kUnknownName, "", Clock::now()});
    }
  }
  const Clock::time_point now = Clock::now();
  next_send_ = std::max(next_send_, now - kMostCatchUp);
  while (!to_send_.empty() && next_send_ <= now) {
    const auto [target, address] = to_send_.front();
    sent_[target] = Clock::now();
    if (!echo_.Send(address, target)) {
      next_send_ = now + kFullWait;
      break;
    }
    to_send_.pop_front();
    ++counts_.sent;
    next_send_ += interval_;
  }
  for (const SweepAnswer& answer : echo_.Collect()) {
    const size_t target = static_cast<size_t>(answer.tag);
    // As the agent's echo counts it: a reply with success status.
    if (answer.reply.replies > 0 && answer.reply.status == 0) {
      ++counts_.answered;
      outcomes.push_back({target, SweepOutcome::Kind::kAnswered, FormatDottedAddress(answer.reply.address),
                          sent_[target]});
    } else {
      ++counts_.silent;
      outcomes.push_back({target, SweepOutcome::Kind::kSilent, "", sent_[target]});
    }
  }
  return outcomes;
}

Clock::time_point TargetSweep::NextWake() const {
  Clock::time_point wake = Clock::time_point::max();
  if (stopped_) return wake;
  if (!to_send_.empty()) wake = next_send_;
  if (const std::optional<Clock::time_point> timeout = echo_.NextTimeout()) wake = std::min(wake, *timeout);
  return wake;
}

void TargetSweep::Stop() {
  stopped_ = true;
  resolver_->Stop();
  to_send_.clear();
}

bool TargetSweep::Finished() const {
  return stopped_ || (resolver_->Done() && to_send_.empty() && echo_.InFlight() == 0);
}

}  // namespace hostlore::fleet
