// Charts drawn by the server as inline SVG: no script, no asset from
// elsewhere, readable in any browser and in a saved page.
#pragma once

#include <string>
#include <vector>

#include "db/drive_history_text.h"

namespace hostlore {

// Free space over time: one line through the days of a drive history that
// carry a date and a number, days placed by date. `label` names the chart
// for screen readers. Empty when fewer than one such day.
std::string FreeSpaceChart(const std::vector<DriveDay>& days, const std::string& label);

// A horizontal bar for `part` of `whole`, for counts in a table.
std::string CountBar(int64_t part, int64_t whole);

}  // namespace hostlore
