// The agent's start-up procedures: the load, which reads the command line
// into the scan state, and the one-shot timer, which starts the scan.
#pragma once

#include <string>

namespace hostlore {

struct ScanState;

// Reads TempDir and the command line (ScanState::CommandLine) into the scan
// state and prepares the work lists. An unreadable command line takes the
// failure path with exit status 2.
void FormLoad(ScanState& state);

// Settles user-only mode from the end of the command line and runs Scan.
// Never returns: the run ends through ProcessEnd.
[[noreturn]] void Timer1Timer(ScanState& state);

// The failure path of the form procedures: LastError = description, one log
// line under ProcName with ErrorContext + ":" + LastError, the "Complete"
// line, and the end of the run with `exit_status`.
[[noreturn]] void FormFailurePath(ScanState& state, const std::string& description,
                                  int exit_status);

}  // namespace hostlore
