// What the agent says about its own command line: the --help text and the
// one usage line that follows an unreadable command line.
#pragma once

#include <string>

namespace hostlore {

// The text of "hostlore --help".
std::string AgentHelp();

// One line for standard error after a command line that could not be read;
// the reason itself is in the log at `log_path`.
std::string AgentUsageLine(const std::string& log_path);

}  // namespace hostlore
