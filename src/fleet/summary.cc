#include "fleet/summary.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "fleet/run_line.h"

namespace hostlore::fleet {

std::string SummaryText(const FleetState& state) {
  constexpr std::array kOutcomes = {Outcome::kStored,      Outcome::kNotAnswering, Outcome::kUnknownName,
                                    Outcome::kAccessRefused, Outcome::kFailed,      Outcome::kTimedOut,
                                    Outcome::kCrashed,     Outcome::kInterrupted,  Outcome::kNotStarted};
  std::string text;
  for (const TargetRun& run : state.runs) {
    // Unknown names count as done, but are listed: a typo shows here.
    if ((!run.Ok() || run.outcome == Outcome::kUnknownName) && run.outcome != Outcome::kNotStarted) {
      text += FinishedLine(run) + "\n";
    }
  }
  const double elapsed = std::chrono::duration<double>(Clock::now() - state.started).count();
  text += "Summary: " + std::to_string(state.runs.size()) + " targets in " + FormatDuration(elapsed);
  if (state.interrupted) text += " (interrupted)";
  text += "\n";
  for (Outcome outcome : kOutcomes) {
    size_t count = 0;
    for (const TargetRun& run : state.runs) count += run.outcome == outcome ? 1 : 0;
    if (count > 0 || outcome == Outcome::kStored || outcome == Outcome::kNotAnswering) {
      text += "  " + std::string(OutcomeText(outcome)) + ": " + std::to_string(count) + "\n";
    }
  }
  const auto largest = std::max_element(state.runs.begin(), state.runs.end(),
                                        [](const TargetRun& a, const TargetRun& b) { return a.max_rss_kb < b.max_rss_kb; });
  if (largest != state.runs.end() && largest->max_rss_kb > 0) {
    char memory[32];
    std::snprintf(memory, sizeof memory, "%.1f MB", static_cast<double>(largest->max_rss_kb) / 1024);
    text += std::string("  largest agent: ") + memory + " (" + largest->target + ")\n";
  }
  if (state.duplicates > 0) {
    text += "  duplicate targets left out: " + std::to_string(state.duplicates) + "\n";
  }
  if (state.malformed_lines > 0) {
    text += "  malformed progress lines ignored: " + std::to_string(state.malformed_lines) + "\n";
  }
  return text;
}

int FleetExitStatus(const FleetState& state) {
  for (const TargetRun& run : state.runs) {
    if (!run.Ok()) return 1;
  }
  return 0;
}

}  // namespace hostlore::fleet
