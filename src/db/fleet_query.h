// What every fleet question shares: which part of a long answer to give, and
// when a computer counts as stale.
#pragma once

#include <cstdint>
#include <string>

namespace hostlore {

// Rows `offset` to `offset + limit - 1` of an answer; a negative limit
// gives every row from `offset` on. Without `count`, the answer's total is
// not counted (it stays 0).
struct QueryPage {
  int64_t offset = 0;
  int64_t limit = -1;
  bool count = true;
};

// A computer is stale when it has not been reached since `before` (a stored
// time text), or never. Every answer that names computers says which are.
struct StaleRule {
  std::string before;
};

}  // namespace hostlore
