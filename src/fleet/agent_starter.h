// Starting agents without holding up the runner.
#pragma once

#include <sys/types.h>

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "fleet/agent_spawner.h"
#include "util/unique_fd.h"

namespace hostlore::fleet {

// Starts agents (SpawnAgent) on threads of its own. A spawn returns only
// once the new process has left for the agent's program, and on a busy host
// the new process waits tens of milliseconds for its turn on a processor:
// started one after the other by the runner itself, hundreds of agents kept
// it from its sweep and its pipe for seconds.
class AgentStarter {
 public:
  struct Started {
    int slot = 0;
    Result<pid_t> pid = pid_t{0};
  };

  explicit AgentStarter(int threads);
  // Finishes the starts under way and those asked for, then stops.
  ~AgentStarter();
  AgentStarter(const AgentStarter&) = delete;
  AgentStarter& operator=(const AgentStarter&) = delete;

  // Starts `start` for job slot `slot`; the result comes back from Take.
  void Start(int slot, AgentStart start);
  // Readable while results wait to be taken.
  int fd() const { return event_.get(); }
  // The starts finished since the last call.
  std::vector<Started> Take();

 private:
  void Work();

  UniqueFd event_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::pair<int, AgentStart>> queue_;  // guarded by mutex_
  std::vector<Started> finished_;                 // guarded by mutex_
  bool stopping_ = false;                         // guarded by mutex_
  std::vector<std::thread> threads_;
};

}  // namespace hostlore::fleet
