// The signals that the runner handles, delivered through a descriptor.
#pragma once

#include <csignal>
#include <vector>

namespace hostlore::fleet {

// Blocks SIGCHLD, SIGINT, SIGTERM, SIGHUP and SIGWINCH and delivers them
// through a descriptor instead; restores the old mask when destroyed.
// Threads started while it lives inherit the blocked mask, so that the
// signals reach the descriptor and no thread's handler.
class SignalChannel {
 public:
  SignalChannel();
  ~SignalChannel();
  SignalChannel(const SignalChannel&) = delete;
  SignalChannel& operator=(const SignalChannel&) = delete;

  // -1 when the descriptor could not be made (errno says why).
  int fd() const { return fd_; }
  // The signals that arrived since the last call.
  std::vector<int> Take();

 private:
  sigset_t handled_;
  sigset_t old_mask_;
  int fd_ = -1;
};

}  // namespace hostlore::fleet
