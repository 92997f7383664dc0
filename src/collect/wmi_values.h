// Turning WMI property values into scan-state values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/wmi/wmi.h"

namespace hostlore {

// Failure numbers of the conversions.
inline constexpr int64_t kTypeMismatch = 13;
inline constexpr int64_t kOverflow = 6;

// The value as text: text as it is, integers in decimal, other numbers in
// their shortest decimal form. Failure: null (the property holds nothing).
Result<std::string> WmiText(const WmiValue& value);

// The value as a number; text must be a decimal number (WMI sends 64-bit
// counts as text). Failure: null, or text that is no number.
Result<double> WmiNumber(const WmiValue& value);

// `amount` / `divisor`, rounded to the nearest whole number with halves away
// from zero. Failure (kTypeMismatch) when that whole number is 0: a field
// that would receive it keeps its value.
Result<double> RoundToMegabytes(double amount, double divisor);

// RoundToMegabytes for a 32-bit field. Failure also when out of range.
Result<int32_t> RoundToMegabytesInt(double amount, double divisor);

}  // namespace hostlore
