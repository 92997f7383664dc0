// Cleaning up processor names.
#pragma once

#include <string>
#include <string_view>

namespace hostlore {

// Drops every pair of neighbouring spaces, scanning from the left, so that a
// run of an even number of spaces vanishes and an odd run leaves one; a
// result of one lone space becomes empty text.
std::string RemoveDoubleSpaces(std::string_view name);

}  // namespace hostlore
