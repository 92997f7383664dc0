// The end of a fleet run: the summary text, the report files and the exit
// status.
#pragma once

#include <string>

#include "fleet/fleet_state.h"
#include "platform/status.h"

namespace hostlore::fleet {

// Counts per outcome, the malformed line count, the wall time, and one line
// for every target that did not end stored or not answering.
std::string SummaryText(const FleetState& state);

// 0 when every target ended stored or not answering, 1 otherwise.
int FleetExitStatus(const FleetState& state);

// Writes the per-target report: JSON when `path` ends in ".json", CSV when in
// ".csv" (the choice is checked by ReportFormatKnown first). Failure: the
// file cannot be written.
Status WriteReport(const FleetState& state, const std::string& path);
bool ReportFormatKnown(const std::string& path);

}  // namespace hostlore::fleet
