#include "diag/log_error.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "diag/time_stamp.h"
#include "scan/scan_state.h"
#include "util/password_mask.h"
#include "util/text.h"
#include "util/unique_fd.h"

namespace hostlore {

std::string LogFilePath(const ScanState& state) { return state.TempDir + "/Kelvarn.log"; }

void LogError(const ScanState& state, std::string_view what, std::string_view detail) {
  const std::time_t now = state.platform.clock ? state.platform.clock->Now() : std::time(nullptr);
  std::string line = FormatTimeStamp(now);
  line += ',';
  // The command line and the connection string may carry a password (the
  // server field of a person's command); no log ever holds one.
  line += FoldLineBreaks(MaskPasswords(what));
  line += ',';
  line += FoldLineBreaks(MaskPasswords(detail));
  line += "\r\n";

  const std::string path = LogFilePath(state);
  // Not for everyone's eyes: the lines name computers, users and servers.
  const UniqueFd log(::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640));
  if (!log.valid()) return;
  // One write: O_APPEND places the whole line at the end, untorn.
  ssize_t written;
  do {
    written = ::write(log.get(), line.data(), line.size());
  } while (written < 0 && errno == EINTR);
}

}  // namespace hostlore
