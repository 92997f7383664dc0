#include "fleet/shard.h"

#include <charconv>

namespace hostlore::fleet {
namespace {

bool ParseCount(std::string_view text, size_t& value) {
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && error == std::errc() && end == text.data() + text.size();
}

}  // namespace

Result<Shard> ParseShard(std::string_view text) {
  const size_t slash = text.find('/');
  Shard shard;
  if (slash == std::string_view::npos || !ParseCount(text.substr(0, slash), shard.index) ||
      !ParseCount(text.substr(slash + 1), shard.count) || shard.count == 0 ||
      shard.index >= shard.count) {
    return Status::Failure(win32::kInvalidParameter,
                           "--shard \"" + std::string(text) + "\" must be K/N with 0 <= K < N");
  }
  return shard;
}

std::vector<std::string> SelectShard(const std::vector<std::string>& targets, const Shard& shard) {
  std::vector<std::string> selected;
  for (size_t i = shard.index; i < targets.size(); i += shard.count) selected.push_back(targets[i]);
  return selected;
}

}  // namespace hostlore::fleet
