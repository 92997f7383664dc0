#include "run/command_line.h"

#include <charconv>
#include <limits>

namespace hostlore {

std::string JoinArguments(int argc, const char* const* argv) {
  std::string text;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) text += ' ';
    text += argv[i];
  }
  return text;
}

std::vector<std::string> SplitFields(std::string_view command_line) {
  std::vector<std::string> fields;
  size_t start = 0;
  while (true) {
    const size_t comma = command_line.find(',', start);
    if (comma == std::string_view::npos) {
      fields.emplace_back(command_line.substr(start));
      return fields;
    }
    fields.emplace_back(command_line.substr(start, comma - start));
    start = comma + 1;
  }
}

namespace {

template <typename Int>
Result<Int> ParseDecimal(std::string_view text) {
  std::string_view digits = text;
  if (!digits.empty() && (digits.front() == '+' || digits.front() == '-')) digits.remove_prefix(1);
  const bool all_digits = !digits.empty() && digits.find_first_not_of("0123456789") ==
                                                  std::string_view::npos;
  if (!all_digits) {
    return Status::Failure(13, "'" + std::string(text) + "' is not a decimal number");
  }
  // from_chars does not take a leading '+'.
  std::string_view signed_text = text.front() == '+' ? text.substr(1) : text;
  Int value{};
  const auto [end, ec] =
      std::from_chars(signed_text.data(), signed_text.data() + signed_text.size(), value);
  if (ec != std::errc() || end != signed_text.data() + signed_text.size()) {
    return Status::Failure(6, std::string(text) + " is out of range (" +
                                  std::to_string(std::numeric_limits<Int>::min()) + " to " +
                                  std::to_string(std::numeric_limits<Int>::max()) + ")");
  }
  return value;
}

}  // namespace

Result<int32_t> ParseInt32(std::string_view text) { return ParseDecimal<int32_t>(text); }
Result<int16_t> ParseInt16(std::string_view text) { return ParseDecimal<int16_t>(text); }

std::string BuildConnectionString(std::string_view sql_server) {
  return "Provider=SQLOLEDB;Data Source=" + std::string(sql_server) +
         ";Initial Catalog=BrindleAsset;Trusted_Connection=yes";
}

}  // namespace hostlore
