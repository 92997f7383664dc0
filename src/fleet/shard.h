// Splitting one target list among several scanner hosts.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace hostlore::fleet {

struct Shard {
  size_t index = 0;  // K: 0 .. count - 1
  size_t count = 1;  // N
};

// "K/N" with 0 <= K < N. Failure names the text and the rule.
Result<Shard> ParseShard(std::string_view text);

// Every count-th target starting at position index: the shards 0/N .. N-1/N
// of one list are disjoint and together hold every target exactly once.
std::vector<std::string> SelectShard(const std::vector<std::string>& targets, const Shard& shard);

}  // namespace hostlore::fleet
