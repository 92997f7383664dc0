// The agent's command line: five comma-separated fields, no quoting, no
// trimming — progress channel, target, database server, optional "-u",
// caller index.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace hostlore {

// The command-line text of a process given its arguments: argv[1..] joined by
// single blanks, as a Windows program would see its command line.
std::string JoinArguments(int argc, const char* const* argv);

// The text split at every comma; n commas give n + 1 fields.
std::vector<std::string> SplitFields(std::string_view command_line);

// Decimal text to an integer: an optional sign and at least one digit,
// nothing else (no blanks). Failure: not a decimal number, or out of range.
Result<int32_t> ParseInt32(std::string_view text);
Result<int16_t> ParseInt16(std::string_view text);

// "Provider=SQLOLEDB;Data Source=" + server + ";Initial Catalog=BrindleAsset;Trusted_Connection=yes".
std::string BuildConnectionString(std::string_view sql_server);

}  // namespace hostlore
