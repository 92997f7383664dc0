#include "fleet/child_check.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "util/unique_fd.h"

namespace hostlore::fleet {
namespace {

// The child's side: the failure's description on `report`, then _exit
// (nothing of the parent's state is torn down twice).
[[noreturn]] void CheckAndReport(const std::function<Status()>& check, int report) {
  int exit_status = 0;
  try {
    const Status checked = check();
    if (!checked.ok()) {
      WriteAll(report, checked.description());
      exit_status = 1;
    }
  } catch (...) {
    WriteAll(report, "out of memory");
    exit_status = 1;
  }
  ::_exit(exit_status);
}

std::string ReadToEnd(int fd) {
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return text;
    text.append(buffer, static_cast<size_t>(got));
  }
}

}  // namespace

Status RunCheckInChild(const std::string& what, const std::function<Status()>& check) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    return Status::Failure(errno, what + ": pipe: " + std::strerror(errno));
  }
  UniqueFd read_end(ends[0]);
  UniqueFd write_end(ends[1]);
  const pid_t child = ::fork();
  if (child < 0) return Status::Failure(errno, what + ": fork: " + std::strerror(errno));
  if (child == 0) {
    read_end.reset();
    CheckAndReport(check, write_end.get());
  }
  write_end.reset();
  const std::string failure = ReadToEnd(read_end.get());
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return Status::Ok();
  if (!failure.empty()) return Status::Failure(1, failure);
  return Status::Failure(1, what + " ended " +
                                (WIFSIGNALED(status) ? "by signal " + std::to_string(WTERMSIG(status))
                                                     : "with status " + std::to_string(WEXITSTATUS(status))));
}

}  // namespace hostlore::fleet
