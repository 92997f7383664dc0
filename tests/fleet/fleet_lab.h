// Lab folders for fleet tests: copies of the sample computer lab/pc042.json
// under other names and addresses, with knobs turned.
#pragma once

#include <string>

#include "support/test_support.h"

namespace hostlore::test {

// Writes NAME.json into `lab`: the sample computer renamed to `name` (also
// the name it reports for itself) at `address`; `changes` (a JSON object)
// replaces top-level members, e.g. {"echo": "timeout"} or {"wmi": false}.
void AddLabComputer(const TempFolder& lab, const std::string& name, const std::string& address,
                    const std::string& changes = "{}");

}  // namespace hostlore::test
