#include "fleet/progress_line.h"

#include <charconv>
#include <cmath>

namespace hostlore::fleet {
namespace {

// Cuts the text after the last comma off `rest` and returns it.
std::optional<std::string_view> PopField(std::string_view& rest) {
  const size_t comma = rest.rfind(',');
  if (comma == std::string_view::npos) return std::nullopt;
  const std::string_view field = rest.substr(comma + 1);
  rest = rest.substr(0, comma);
  return field;
}

template <typename T>
bool ParseWhole(std::string_view text, T& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::optional<ProgressLine> ParseProgressLine(std::string_view line) {
  std::string_view rest = line;
  const std::optional<std::string_view> index = PopField(rest);
  const std::optional<std::string_view> address = index ? PopField(rest) : std::nullopt;
  const std::optional<std::string_view> step = address ? PopField(rest) : std::nullopt;
  if (!step) return std::nullopt;

  ProgressLine parsed;
  if (!ParseWhole(*index, parsed.caller_index)) return std::nullopt;
  if (*step == "Complete") {
    parsed.complete = true;
  } else if (step->starts_with('-') || !ParseWhole(*step, parsed.percent) ||
             !std::isfinite(parsed.percent)) {
    return std::nullopt;
  }
  parsed.target_name = std::string(rest);
  parsed.address = std::string(*address);
  return parsed;
}

}  // namespace hostlore::fleet
