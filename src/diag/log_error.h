// The error log: TempDir + "/Kelvarn.log", one line per trapped failure.
#pragma once

#include <string>
#include <string_view>

namespace hostlore {

struct ScanState;

// The log file's path: TempDir + "/Kelvarn.log" ("/Kelvarn.log" when TempDir
// is empty).
std::string LogFilePath(const ScanState& state);

// Appends "YYYY/MM/DD HH:MM:SS,what,detail" and CR LF, in one O_APPEND write
// so that concurrent agents never tear each other's lines. Line breaks inside
// `what` and `detail` become blanks, passwords "***" (util/password_mask.h).
// A new log file is made readable by its owner and group only. Never fails
// towards the caller: a log that cannot be written loses the line.
void LogError(const ScanState& state, std::string_view what, std::string_view detail);

}  // namespace hostlore
