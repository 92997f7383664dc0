#include "db/drive_history_text.h"

#include <charconv>

namespace hostlore {

std::vector<DriveDay> ParseDriveHistory(std::string_view text) {
  std::vector<DriveDay> days;
  while (!text.empty()) {
    const size_t end = text.find('^');
    const std::string_view piece = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (piece.empty()) continue;
    const size_t comma = piece.find(',');
    DriveDay day{std::string(piece.substr(0, comma)), {}, std::nullopt};
    if (comma != std::string_view::npos) {
      day.free_text = std::string(piece.substr(comma + 1));
      double number = 0;
      const char* first = day.free_text.data();
      const char* last = first + day.free_text.size();
      const auto [stop, error] = std::from_chars(first, last, number);
      if (error == std::errc() && stop == last) day.free_mb = number;
    }
    days.push_back(std::move(day));
  }
  return days;
}

}  // namespace hostlore
