// --help and --version, answered alike by every Hostlore program.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hostlore {

// The version of this build (the project version of the build files).
std::string_view ProgramVersion();

// When `arguments` (argv[1..]) ask for the help or the version: "--help"
// (or "-h") anywhere before a "--", or "--version", prints `help`, or
// `program` + " " + version, on standard output and returns the exit status
// 0. Otherwise nullopt: the program reads its arguments as usual.
std::optional<int> AnswerHelpOrVersion(const std::vector<std::string>& arguments,
                                       std::string_view program, std::string_view help);

}  // namespace hostlore
