#include "diag/report_progress.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "scan/scan_state.h"
#include "util/text.h"

namespace hostlore {
namespace {

// Keeps the last three fields (step, address, index) whole and cuts the
// first, the name, so that the line fits one atomic write.
std::string FitLine(std::string line) {
  if (line.size() <= kMaxProgressLine) return line;
  size_t tail_start = line.size();
  for (int commas = 0; commas < 3 && tail_start > 0;) {
    --tail_start;
    if (line[tail_start] == ',') ++commas;
  }
  const std::string tail = line.substr(tail_start);
  if (tail.size() >= kMaxProgressLine) return std::string(CutToBytes(line, kMaxProgressLine));
  const std::string_view head =
      CutToBytes(std::string_view(line).substr(0, tail_start), kMaxProgressLine - tail.size());
  return std::string(head) + tail;
}

}  // namespace

void CheckProgressChannel(ScanState& state) {
  const int fd = state.ProgressWindow;
  state.ProgressChannelClosed = fd > 0 && ::fcntl(fd, F_GETFD) == -1;
}

void ReportProgress(const ScanState& state, std::string line) {
  line += ',';
  line += std::to_string(state.CallerIndex);
  line = FitLine(FoldLineBreaks(line));
  line += '\n';
  const int fd = state.ProgressWindow;
  if (fd <= 0 || state.ProgressChannelClosed) return;
  ssize_t written;
  do {
    written = ::write(fd, line.data(), line.size());
  } while (written < 0 && errno == EINTR);
  // A failed or short write drops the line: the run goes on regardless.
}

void ReportStep(const ScanState& state, std::string_view step) {
  std::string line = state.TargetName;
  line += ',';
  line += step;
  line += ',';
  line += state.TargetAddress;
  ReportProgress(state, std::move(line));
}

void ReportFailureComplete(ScanState& state) {
  ReportStep(state, "Complete");
  state.FailureReported = true;
}

}  // namespace hostlore
