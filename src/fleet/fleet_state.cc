#include "fleet/fleet_state.h"

namespace hostlore::fleet {

FleetState::FleetState(const std::vector<std::string>& targets) {
  runs.resize(targets.size());
  for (size_t i = 0; i < targets.size(); ++i) {
    runs[i].target = targets[i];
    runs[i].name = targets[i];
  }
}

FleetCounts FleetState::Counts() const {
  FleetCounts counts;
  counts.total = runs.size();
  for (const TargetRun& run : runs) {
    if (run.state == RunState::kRunning) ++counts.running;
    if (run.state != RunState::kFinished) continue;
    ++counts.done;
    if (run.outcome == Outcome::kNotAnswering) ++counts.not_answering;
    else if (run.outcome == Outcome::kUnknownName) ++counts.unknown_name;
    else if (!run.address.empty()) ++counts.answering;
    if (run.outcome == Outcome::kStored) ++counts.stored;
    if (!run.Ok()) ++counts.failed;
  }
  return counts;
}

double FleetState::SecondsLeft() const {
  const FleetCounts counts = Counts();
  if (counts.done == 0) return -1;
  const double elapsed = std::chrono::duration<double>(Clock::now() - started).count();
  return elapsed / static_cast<double>(counts.done) * static_cast<double>(counts.total - counts.done);
}

}  // namespace hostlore::fleet
