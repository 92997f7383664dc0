#include "diag/message_box.h"

#include <unistd.h>

#include <iostream>
#include <string>

namespace hostlore {

void ShowMessageBox(std::string_view text) {
  std::cerr << text << '\n';
  if (::isatty(STDIN_FILENO)) {
    std::cerr << "[press Enter to continue]" << std::flush;
    std::string ignored;
    std::getline(std::cin, ignored);
  }
}

}  // namespace hostlore
