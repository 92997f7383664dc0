// The one pipe that every agent of the fleet writes its progress lines to.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/status.h"

namespace hostlore::fleet {

class ProgressPipe {
 public:
  // Failure: the pipe cannot be created.
  static Result<std::unique_ptr<ProgressPipe>> Open();
  ProgressPipe(int read_fd, int write_fd) : read_fd_(read_fd), write_fd_(write_fd) {}
  ~ProgressPipe();
  ProgressPipe(const ProgressPipe&) = delete;
  ProgressPipe& operator=(const ProgressPipe&) = delete;

  // Inherited by the agents (not close-on-exec, blocking, so an agent's one
  // write of a line under PIPE_BUF is never split or refused).
  int write_fd() const { return write_fd_; }
  // Close-on-exec and non-blocking; poll it for input.
  int read_fd() const { return read_fd_; }

  // Everything readable now, cut into complete lines (without "\n"). A
  // partial line waits for its end. `overlong` counts the text that was
  // dropped because no line end came within 64 KiB.
  std::vector<std::string> ReadLines(size_t& overlong);

 private:
  int read_fd_;
  int write_fd_;
  std::string pending_;
};

}  // namespace hostlore::fleet
