#include "diag/time_stamp.h"

#include <cstdio>

namespace hostlore {
namespace {

std::tm LocalTime(std::time_t when) {
  std::tm local{};
  localtime_r(&when, &local);
  return local;
}

}  // namespace

std::string FormatTimeStamp(std::time_t when) {
  const std::tm t = LocalTime(when);
  char text[80];  // room for any int, so the compiler can prove no truncation
  std::snprintf(text, sizeof text, "%04d/%02d/%02d %02d:%02d:%02d", t.tm_year + 1900,
                t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

std::string FormatDate(std::time_t when) {
  const std::tm t = LocalTime(when);
  char text[48];
  std::snprintf(text, sizeof text, "%04d/%02d/%02d", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday);
  return text;
}

}  // namespace hostlore
