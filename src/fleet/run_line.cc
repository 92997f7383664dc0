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
  return std::to_string(counts.done) + "/" + std::to_string(counts.total) + " done · " +
         std::to_string(counts.answering) + " answering · " + std::to_string(counts.not_answering) +
         " not answering · " + std::to_string(counts.failed) + " failed";
}

}  // namespace hostlore::fleet
