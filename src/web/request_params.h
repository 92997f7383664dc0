// The query parameters of one request, checked. Each page names the
// parameters it takes; a parameter it does not take, one given twice, or a
// value it cannot use makes the request a bad one, and the first such
// problem is what the 400 page says.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hostlore {

// Longest parameter value taken, in bytes.
inline constexpr size_t kMaxParameterLength = 1024;

class RequestParams {
 public:
  // `params` as the HTTP library decoded them; `known` the names the page takes.
  RequestParams(const std::multimap<std::string, std::string>& params, std::initializer_list<std::string_view> known);

  // The value of `name`, or nothing when it is absent. Empty values count as absent.
  std::optional<std::string> Text(std::string_view name);
  // A whole number from `min` to `max`.
  std::optional<int64_t> Number(std::string_view name, int64_t min, int64_t max);
  // "yes" or "no".
  std::optional<bool> Flag(std::string_view name);
  // A date or time as ParseQueryTime takes it, in stored form.
  std::optional<std::string> Time(std::string_view name);
  // One of `choices`; its index.
  std::optional<size_t> Choice(std::string_view name, const std::vector<std::string_view>& choices);

  bool ok() const { return error_.empty(); }
  const std::string& error() const { return error_; }

  // Every parameter given, in name order, for links that keep the view.
  const std::multimap<std::string, std::string>& given() const { return params_; }

 private:
  void Fail(std::string problem);

  const std::multimap<std::string, std::string>& params_;
  std::string error_;
};

}  // namespace hostlore
