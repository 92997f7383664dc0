#include "db/query_time.h"

#include <cstdio>

#include "diag/time_stamp.h"

namespace hostlore {
namespace {

bool ReadDigits(std::string_view text, size_t at, size_t count, int& value) {
  if (at + count > text.size()) return false;
  value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return true;
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

std::string StoredTimeDaysBefore(std::time_t now, int days) {
  std::tm local{};
  localtime_r(&now, &local);
  local.tm_mday -= days;
  local.tm_isdst = -1;  // the other day may lie on the other side of a clock change
  return FormatTimeStamp(std::mktime(&local));
}

std::optional<std::string> ParseQueryTime(std::string_view text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  if (!ReadDigits(text, 0, 4, year) || text.size() < 10 || (text[4] != '-' && text[4] != '/') ||
      text[7] != text[4] || !ReadDigits(text, 5, 2, month) || !ReadDigits(text, 8, 2, day)) {
    return std::nullopt;
  }
  if (text.size() > 10) {
    const bool separator = text[10] == ' ' || text[10] == 'T';
    const bool minutes_only = text.size() == 16;
    if (!separator || (text.size() != 16 && text.size() != 19) || !ReadDigits(text, 11, 2, hour) ||
        text[13] != ':' || !ReadDigits(text, 14, 2, minute) ||
        (!minutes_only && (text[16] != ':' || !ReadDigits(text, 17, 2, second)))) {
      return std::nullopt;
    }
  }
  if (year < 1 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
      minute > 59 || second > 59) {
    return std::nullopt;
  }
  char stored[64];
  std::snprintf(stored, sizeof stored, "%04d/%02d/%02d %02d:%02d:%02d", year, month, day, hour, minute,
                second);
  return std::string(stored);
}

}  // namespace hostlore
