// The termination signals (SIGTERM, SIGINT, SIGHUP, SIGQUIT), held by the
// calling thread while a HeldTermination lives; a signal that comes
// meanwhile waits, and takes its course once they are released.
#pragma once

#include <pthread.h>
#include <signal.h>

namespace hostlore {

inline sigset_t TerminationSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) sigaddset(&signals, signal);
  return signals;
}

class HeldTermination {
 public:
  HeldTermination() {
    const sigset_t signals = TerminationSignals();
    pthread_sigmask(SIG_BLOCK, &signals, &previous_);
  }
  ~HeldTermination() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  HeldTermination(const HeldTermination&) = delete;
  HeldTermination& operator=(const HeldTermination&) = delete;

 private:
  sigset_t previous_;
};

// Whether a termination signal waits for the process.
inline bool TerminationPending() {
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  for (int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT}) {
    if (sigismember(&pending, signal) == 1) return true;
  }
  return false;
}

}  // namespace hostlore
