// One progress line as an agent writes it to the shared pipe:
// TARGET,STEP,ADDRESS,CALLER_INDEX.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hostlore::fleet {

struct ProgressLine {
  std::string target_name;  // may itself contain commas
  bool complete = false;    // STEP was "Complete"
  double percent = 0;       // STEP as a number when !complete
  std::string address;      // empty until the target answered the echo
  int16_t caller_index = 0;
};

// Parses `line` (without its "\n") from the right, because only the target
// name may contain commas: the last three fields are step, address and
// caller index. nullopt: fewer than four fields, a step that is neither
// "Complete" nor a decimal number, or an index that is not a 16-bit decimal.
std::optional<ProgressLine> ParseProgressLine(std::string_view line);

}  // namespace hostlore::fleet
