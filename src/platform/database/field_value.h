// One stored value of a column: Null, text, a double or an integer.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

#include "platform/status.h"

namespace hostlore {

class FieldValue {
 public:
  FieldValue() = default;  // Null
  FieldValue(std::string text) : value_(std::move(text)) {}  // NOLINT: implicit on purpose
  FieldValue(const char* text) : value_(std::string(text)) {}  // NOLINT
  FieldValue(double number) : value_(number) {}  // NOLINT
  FieldValue(int64_t number) : value_(number) {}  // NOLINT
  FieldValue(int32_t number) : value_(static_cast<int64_t>(number)) {}  // NOLINT

  static FieldValue Null() { return FieldValue(); }

  bool is_null() const { return std::holds_alternative<std::monostate>(value_); }
  bool is_text() const { return std::holds_alternative<std::string>(value_); }
  bool is_double() const { return std::holds_alternative<double>(value_); }
  bool is_integer() const { return std::holds_alternative<int64_t>(value_); }

  // Only meaningful for the matching kind.
  const std::string& text() const { return std::get<std::string>(value_); }
  double real() const { return std::get<double>(value_); }
  int64_t integer() const { return std::get<int64_t>(value_); }

  bool operator==(const FieldValue&) const = default;

 private:
  std::variant<std::monostate, std::string, double, int64_t> value_;
};

// The value read as text: text as it is, numbers in their shortest decimal
// form. Failure: the value is Null ("Invalid use of Null").
Result<std::string> ValueAsText(const FieldValue& value);

// The value read as a number: numbers as they are, text that holds a whole
// decimal number (blanks around it allowed) as that number. Failure: Null
// ("Invalid use of Null") or text that is no number ("Type mismatch").
Result<double> ValueAsNumber(const FieldValue& value);

// A pinned value is text whose first character is "^"; Null and numbers are
// never pinned.
bool IsPinned(const FieldValue& value);

// True for Null and for the empty text.
bool IsNullOrEmpty(const FieldValue& value);

}  // namespace hostlore
