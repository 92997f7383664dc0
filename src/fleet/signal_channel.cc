#include "fleet/signal_channel.h"

#include <sys/signalfd.h>
#include <unistd.h>

namespace hostlore::fleet {

SignalChannel::SignalChannel() {
  sigemptyset(&handled_);
  for (int signal : {SIGCHLD, SIGINT, SIGTERM, SIGHUP, SIGWINCH}) sigaddset(&handled_, signal);
  ::sigprocmask(SIG_BLOCK, &handled_, &old_mask_);
  fd_ = ::signalfd(-1, &handled_, SFD_NONBLOCK | SFD_CLOEXEC);
}

SignalChannel::~SignalChannel() {
  if (fd_ >= 0) ::close(fd_);
  ::sigprocmask(SIG_SETMASK, &old_mask_, nullptr);
}

std::vector<int> SignalChannel::Take() {
  std::vector<int> signals;
  signalfd_siginfo info;
  while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
    signals.push_back(static_cast<int>(info.ssi_signo));
  }
  return signals;
}

}  // namespace hostlore::fleet
