// The style sheet and script of the pages, built into the program from
// src/web/static, so that the server needs no files and no other host.
#pragma once

#include <string_view>

namespace hostlore {

std::string_view StyleSheet();
std::string_view Script();

}  // namespace hostlore
