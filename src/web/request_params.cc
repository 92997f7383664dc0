#include "web/request_params.h"

#include <charconv>

#include "db/query_time.h"

namespace hostlore {

RequestParams::RequestParams(const std::multimap<std::string, std::string>& params,
                             std::initializer_list<std::string_view> known)
    : params_(params) {
  for (auto it = params_.begin(); it != params_.end(); it = params_.upper_bound(it->first)) {
    bool taken = false;
    for (const std::string_view name : known) taken = taken || name == it->first;
    if (!taken) {
      Fail("unknown parameter \"" + it->first + "\"");
    } else if (params_.count(it->first) > 1) {
      Fail("parameter \"" + it->first + "\" given more than once");
    } else if (it->second.size() > kMaxParameterLength) {
      Fail("parameter \"" + it->first + "\" is longer than " + std::to_string(kMaxParameterLength) + " bytes");
    }
  }
}

void RequestParams::Fail(std::string problem) {
  if (error_.empty()) error_ = std::move(problem);
}

std::optional<std::string> RequestParams::Text(std::string_view name) {
  const auto found = params_.find(std::string(name));
  if (found == params_.end() || found->second.empty()) return std::nullopt;
  return found->second;
}

std::optional<int64_t> RequestParams::Number(std::string_view name, int64_t min, int64_t max) {
  const std::optional<std::string> text = Text(name);
  if (!text) return std::nullopt;
  int64_t number = 0;
  const auto [end, error] = std::from_chars(text->data(), text->data() + text->size(), number);
  if (error != std::errc() || end != text->data() + text->size() || number < min || number > max) {
    Fail("parameter \"" + std::string(name) + "\" takes a whole number from " + std::to_string(min) + " to " +
         std::to_string(max));
    return std::nullopt;
  }
  return number;
}

std::optional<bool> RequestParams::Flag(std::string_view name) {
  const std::optional<size_t> choice = Choice(name, {"no", "yes"});
  if (!choice) return std::nullopt;
  return *choice == 1;
}

std::optional<std::string> RequestParams::Time(std::string_view name) {
  const std::optional<std::string> text = Text(name);
  if (!text) return std::nullopt;
  std::optional<std::string> time = ParseQueryTime(*text);
  if (!time) Fail("parameter \"" + std::string(name) + "\" takes a date such as 2024-05-01 or 2024-05-01 13:05");
  return time;
}

std::optional<size_t> RequestParams::Choice(std::string_view name, const std::vector<std::string_view>& choices) {
  const std::optional<std::string> text = Text(name);
  if (!text) return std::nullopt;
  for (size_t i = 0; i < choices.size(); ++i) {
    if (choices[i] == *text) return i;
  }
  std::string listed;
  for (const std::string_view choice : choices) listed += (listed.empty() ? "" : ", ") + std::string(choice);
  Fail("parameter \"" + std::string(name) + "\" takes one of " + listed);
  return std::nullopt;
}

}  // namespace hostlore
