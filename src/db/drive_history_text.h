// Reading a stored drive history text: records of "^" + date + "," + free
// megabytes, oldest first.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hostlore {

struct DriveDay {
  std::string date;               // "YYYY/MM/DD" as stored
  std::string free_text;          // the free space as stored
  std::optional<double> free_mb;  // the same as a number, when it is one
};

// The records of `text` in stored order; a piece without "," keeps its whole
// text as the date and no free space. Empty pieces are skipped.
std::vector<DriveDay> ParseDriveHistory(std::string_view text);

}  // namespace hostlore
