#include "fleet/progress_pipe.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

namespace hostlore::fleet {
namespace {

constexpr size_t kMaxPending = 64 * 1024;

}  // namespace

Result<std::unique_ptr<ProgressPipe>> ProgressPipe::Open() {
  int fds[2];
  if (::pipe(fds) != 0) return Status::Failure(errno, std::string("pipe: ") + std::strerror(errno));
  ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
  ::fcntl(fds[0], F_SETFL, O_NONBLOCK);
  return std::make_unique<ProgressPipe>(fds[0], fds[1]);
}

ProgressPipe::~ProgressPipe() {
  ::close(read_fd_);
  ::close(write_fd_);
}

std::vector<std::string> ProgressPipe::ReadLines(size_t& overlong) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(read_fd_, buffer, sizeof buffer);
    if (n > 0) {
      pending_.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    break;  // EAGAIN: drained for now
  }
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t end; (end = pending_.find('\n', start)) != std::string::npos; start = end + 1) {
    lines.push_back(pending_.substr(start, end - start));
  }
  pending_.erase(0, start);
  if (pending_.size() > kMaxPending) {
    ++overlong;
    pending_.clear();
  }
  return lines;
}

}  // namespace hostlore::fleet
