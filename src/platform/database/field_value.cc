#include "platform/database/field_value.h"

#include <cerrno>
#include <cstdlib>

#include "util/shortest_decimal.h"

namespace hostlore {
namespace {

// Failure numbers of the two conversion failures, as the runtime numbers them.
constexpr int64_t kTypeMismatch = 13;
constexpr int64_t kInvalidUseOfNull = 94;

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

Result<std::string> ValueAsText(const FieldValue& value) {
  if (value.is_null()) return Status::Failure(kInvalidUseOfNull, "Invalid use of Null");
  if (value.is_text()) return value.text();
  if (value.is_double()) return FormatShortestDecimal(value.real());
  return std::to_string(value.integer());
}

Result<double> ValueAsNumber(const FieldValue& value) {
  if (value.is_null()) return Status::Failure(kInvalidUseOfNull, "Invalid use of Null");
  if (value.is_double()) return value.real();
  if (value.is_integer()) return static_cast<double>(value.integer());
  std::string_view text = value.text();
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  const Status mismatch = Status::Failure(kTypeMismatch, "Type mismatch");
  if (text.empty()) return mismatch;
  // Only plain decimal forms; strtod alone would also take hex, "inf", "nan".
  for (const char c : text) {
    const bool allowed = (c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' ||
                         c == 'e' || c == 'E';
    if (!allowed) return mismatch;
  }
  const std::string copy(text);
  char* end = nullptr;
  errno = 0;
  const double number = std::strtod(copy.c_str(), &end);
  if (end != copy.c_str() + copy.size() || errno == ERANGE) return mismatch;
  return number;
}

bool IsPinned(const FieldValue& value) {
  return value.is_text() && !value.text().empty() && value.text().front() == '^';
}

bool IsNullOrEmpty(const FieldValue& value) {
  return value.is_null() || (value.is_text() && value.text().empty());
}

}  // namespace hostlore
