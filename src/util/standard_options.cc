#include "util/standard_options.h"

#include <cstdio>

namespace hostlore {

std::string_view ProgramVersion() { return HOSTLORE_VERSION; }

std::optional<int> AnswerHelpOrVersion(const std::vector<std::string>& arguments,
                                       std::string_view program, std::string_view help) {
  for (const std::string& argument : arguments) {
    if (argument == "--") break;
    std::string text;
    if (argument == "--help" || argument == "-h") {
      text = help;
    } else if (argument == "--version") {
      text = std::string(program) + " " + std::string(ProgramVersion()) + "\n";
    } else {
      continue;
    }
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    return 0;
  }
  return std::nullopt;
}

}  // namespace hostlore
