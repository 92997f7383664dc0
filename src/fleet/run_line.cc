#include "fleet/run_line.h"

#include <cstdio>

namespace hostlore::fleet {

std::string FormatDuration(double seconds) {
  char text[32];
  const long whole = static_cast<long>(seconds + 0.5);
  if (seconds < 10) {
    std::snprintf(text, sizeof text, "%.1f s", seconds);
  } else if (whole < 60) {
    std::snprintf(text, sizeof text, "%ld s", whole);
  } else if (whole < 3600) {
    std::snprintf(text, sizeof text, "%ld min %02ld s", whole / 60, whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld h %02ld min", whole / 3600, whole / 60 % 60);
  }
  return text;
}

std::string FinishedLine(const TargetRun& run) {
  char head[64];
  std::snprintf(head, sizeof head, "%-14s ", std::string(OutcomeText(run.outcome)).c_str());
  std::string line = head + run.name;
  if (run.name != run.target) line += " (" + run.target + ")";
  if (!run.address.empty()) line += " " + run.address;
  line += " " + FormatDuration(run.Seconds());
  if (!run.detail.empty()) line += " · " + run.detail;
  return line;
}

std::string CountsLine(const FleetCounts& counts) {
  std::string line = std::to_string(counts.done) + "/" + std::to_string(counts.total) + " done · " +
                     std::to_string(counts.answering) + " answering · " +
                     std::to_string(counts.not_answering) + " not answering · ";
  if (counts.unknown_name > 0) line += std::to_string(counts.unknown_name) + " unknown names · ";
  return line + std::to_string(counts.failed) + " failed";
}

std::string SweepLine(const SweepCounts& sweep, size_t targets) {
  std::string line = "echo: " + std::to_string(sweep.sent) + "/" + std::to_string(targets) + " sent · " +
                     std::to_string(sweep.answered) + " answered · " + std::to_string(sweep.silent) +
                     " silent";
  if (sweep.unknown_names > 0) line += " · " + std::to_string(sweep.unknown_names) + " unknown names";
  if (sweep.waiting > 0) line += " · " + std::to_string(sweep.waiting) + " waiting for a job";
  if (sweep.recording > 0) line += " · " + std::to_string(sweep.recording) + " to record";
  return line;
}

}  // namespace hostlore::fleet
