// The daemons a test's server starts on its own (Samba's smbd, winbindd,
// samba-dcerpcd and its helpers), found by the private folder that every
// one of them names on its command line.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace hostlore::testing {

// The processes whose command line mentions `text`.
std::vector<pid_t> ProcessesMentioning(const std::string& text);

// Sends `signal` to each process that mentions `text`.
void SignalProcessesMentioning(const std::string& text, int signal);

}  // namespace hostlore::testing
