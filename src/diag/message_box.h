// Message boxes of an agent that has no window.
#pragma once

#include <string_view>

namespace hostlore {

// Writes `text` to standard error. Waits for Enter only when standard input
// is a terminal, so an unattended run never blocks.
void ShowMessageBox(std::string_view text);

}  // namespace hostlore
