// Progress lines to the caller.
//
// A progress line is TargetName,step,TargetAddress,CallerIndex. It goes to
// the file descriptor that the caller named in the first command-line field,
// as one write() of the line plus "\n", so that lines of many agents sharing
// one pipe never interleave.
#pragma once

#include <string>
#include <string_view>

namespace hostlore {

struct ScanState;

// The longest line (without its "\n") that is sent in one atomic write: one
// byte less than PIPE_BUF.
inline constexpr size_t kMaxProgressLine = 4095;

// Decides once, at start-up, whether ProgressWindow names an open
// descriptor; one that is not open is taken as closed for the whole run. A
// number that was free at start-up may later be given to a file that the
// agent opens itself (SQLite's database, the log), and progress lines must
// never be written into it.
void CheckProgressChannel(ScanState& state);

// Appends "," + CallerIndex to `line` and sends it to ProgressWindow.
// Carriage returns and line feeds inside the line become blanks, and a line
// longer than kMaxProgressLine loses the end of its first field (the name),
// never its step, address or index. Descriptor 0, a channel found closed at
// start-up or a broken pipe drop the line; nothing is reported.
void ReportProgress(const ScanState& state, std::string line);

// Sends TargetName + "," + step + "," + TargetAddress.
void ReportStep(const ScanState& state, std::string_view step);

// Sends the "Complete" line of a failure path and remembers that one was
// sent (the exit status becomes 1).
void ReportFailureComplete(ScanState& state);

}  // namespace hostlore
