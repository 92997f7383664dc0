#include "platform/network/own_processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdlib>

#include "util/unique_fd.h"

namespace hostlore::testing {
namespace {

// The command line of process `pid`, NULs and all; empty when it is gone.
// Read with read(2): a process that exits mid-read fails the read with
// ESRCH, which a std::ifstream would throw (here, from a destructor).
std::string CommandLineOf(const char* pid) {
  std::string text;
  const UniqueFd file(::open(("/proc/" + std::string(pid) + "/cmdline").c_str(),
                             O_RDONLY | O_CLOEXEC));
  if (!file.valid()) return text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(file.get(), buffer, sizeof buffer)) > 0;) {
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

}  // namespace

std::vector<pid_t> ProcessesMentioning(const std::string& text) {
  std::vector<pid_t> pids;
  DIR* proc = ::opendir("/proc");
  if (proc == nullptr) return pids;
  while (dirent* entry = ::readdir(proc)) {
    const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
    if (pid <= 0 || pid == ::getpid()) continue;
    if (CommandLineOf(entry->d_name).find(text) != std::string::npos) pids.push_back(pid);
  }
  ::closedir(proc);
  return pids;
}

void SignalProcessesMentioning(const std::string& text, int signal) {
  for (pid_t pid : ProcessesMentioning(text)) ::kill(pid, signal);
}

}  // namespace hostlore::testing
