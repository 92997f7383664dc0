// The targets named on the command line: host names, dotted addresses, IPv4
// ranges in CIDR form and @FILE lists.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "platform/status.h"

namespace hostlore::fleet {

// A range larger than this is refused rather than expanded: a /16 is the
// widest that a typo like /8 cannot turn into millions of agents.
inline constexpr size_t kMaxRangeAddresses = 65536;

// Expands `arguments` in order into one target each:
// - "a.b.c.d/N" (N 0..32): every host address of the range; for N <= 30 the
//   network and broadcast addresses are left out. More than
//   kMaxRangeAddresses addresses, or an address with bits set beyond the
//   prefix (10.20.0.5/24), is a failure.
// - "@PATH": the lines of the file, each expanded like an argument (but not
//   as a further @FILE); blanks around a line are dropped, empty lines and
//   everything after "#" are ignored.
// - anything else: one target, as given.
// Failure: an unreadable file (the reason in the system's words), a lone "@",
// a malformed or too wide range, or an empty, too long (over 64 characters) or
// comma-holding target; the description says which and where.
Result<std::vector<std::string>> ExpandTargets(const std::vector<std::string>& arguments);

// Removes every target that an earlier one names already (without regard to
// case, as names resolve), keeping the first; returns how many went. Two
// agents for one computer at once would race to create its rows.
size_t DropDuplicateTargets(std::vector<std::string>& targets);

}  // namespace hostlore::fleet
