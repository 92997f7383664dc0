// Times in the fleet questions. Stored times are texts of the agent host's
// local time, "YYYY/MM/DD HH:MM:SS", which sort as they read; a question's
// limits are put into the same form and compared as text.
#pragma once

#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace hostlore {

// The stored form of the moment `days` calendar days before `now`.
std::string StoredTimeDaysBefore(std::time_t now, int days);

// A date or time as people write it: "2024-05-01", "2024/05/01", either
// followed by " 13:05", " 13:05:09" or "T13:05:09"; the stored form of its
// first second. Nothing when the text is no such date or names a day that
// does not exist.
std::optional<std::string> ParseQueryTime(std::string_view text);

}  // namespace hostlore
