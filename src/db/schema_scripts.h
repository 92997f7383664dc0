// The scripts that create the five tables, one per engine (src/db/schema,
// built into the program). Each is idempotent: it creates only what is
// missing.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "db/engine_traits.h"

namespace hostlore {

std::string_view SchemaScript(Engine engine);

// The script's statements, comments removed: each ends at a ";" at the end
// of a line.
std::vector<std::string> SplitSchemaScript(std::string_view script);

}  // namespace hostlore
