#include "util/shortest_decimal.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace hostlore {

std::string FormatShortestDecimal(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value < 0 ? "-Infinity" : "Infinity";
  if (value == 0) return "0";

  // "%.14e" rounds to 15 significant digits: d.dddddddddddddde[+-]XX.
  char scientific[40];
  std::snprintf(scientific, sizeof scientific, "%.14e", value);
  const char* p = scientific;
  std::string out;
  if (*p == '-') {
    out += '-';
    ++p;
  }
  std::string digits;
  for (; *p != 'e'; ++p) {
    if (*p != '.') digits += *p;
  }
  const int exponent = std::atoi(p + 1);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();

  // The decimal point sits after digit number exponent + 1.
  const int point = exponent + 1;
  if (point <= 0) {
    out += "0.";
    out.append(static_cast<size_t>(-point), '0');
    out += digits;
  } else if (static_cast<size_t>(point) >= digits.size()) {
    out += digits;
    out.append(static_cast<size_t>(point) - digits.size(), '0');
  } else {
    out += digits.substr(0, static_cast<size_t>(point));
    out += '.';
    out += digits.substr(static_cast<size_t>(point));
  }
  return out;
}

}  // namespace hostlore
