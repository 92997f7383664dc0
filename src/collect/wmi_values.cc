#include "collect/wmi_values.h"

#include <charconv>
#include <cmath>
#include <limits>

#include "util/shortest_decimal.h"

namespace hostlore {

Result<std::string> WmiText(const WmiValue& value) {
  if (const auto* text = std::get_if<std::string>(&value.value)) return *text;
  if (const auto* integer = std::get_if<int64_t>(&value.value)) return std::to_string(*integer);
  if (const auto* real = std::get_if<double>(&value.value)) return FormatShortestDecimal(*real);
  return Status::Failure(kTypeMismatch, "Invalid use of Null");
}

Result<double> WmiNumber(const WmiValue& value) {
  if (const auto* integer = std::get_if<int64_t>(&value.value)) {
    return static_cast<double>(*integer);
  }
  if (const auto* real = std::get_if<double>(&value.value)) return *real;
  if (const auto* text = std::get_if<std::string>(&value.value)) {
    double number = 0;
    const char* end = text->data() + text->size();
    const auto [stop, ec] = std::from_chars(text->data(), end, number);
    if (ec == std::errc() && stop == end && !text->empty()) return number;
    return Status::Failure(kTypeMismatch, "Type mismatch: '" + *text + "' is not a number");
  }
  return Status::Failure(kTypeMismatch, "Invalid use of Null");
}

Result<double> RoundToMegabytes(double amount, double divisor) {
  const double whole = std::round(amount / divisor);
  if (whole == 0 || !std::isfinite(whole)) {
    return Status::Failure(kTypeMismatch, "Type mismatch: the value rounds to 0 MB");
  }
  return whole;
}

Result<int32_t> RoundToMegabytesInt(double amount, double divisor) {
  Result<double> whole = RoundToMegabytes(amount, divisor);
  if (!whole.ok()) return whole.status();
  if (whole.value() > std::numeric_limits<int32_t>::max() ||
      whole.value() < std::numeric_limits<int32_t>::min()) {
    return Status::Failure(kOverflow, "Overflow");
  }
  return static_cast<int32_t>(whole.value());
}

}  // namespace hostlore
