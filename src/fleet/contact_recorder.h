// Recording the contact with targets that get no agent.
#pragma once

#include <condition_variable>
#include <deque>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <sys/types.h>

#include "platform/status.h"
#include "util/unique_fd.h"

namespace hostlore::fleet {

// Records, for targets that did not answer the echo or did not resolve, what
// their agent would have recorded: through the agent's own last-access code
// (a LastAccess row for the name, no time of contact), with the agent's log
// line on a failure. The records are made one after the other, over one
// database connection, by a child process of the recorder's own: the
// database's pace never holds up the runner, and the database libraries and
// their caches stay out of the runner's memory (which the kernel counts into
// every agent the runner starts). A thread of the runner feeds the child.
//
// Create it before the runner starts any other thread (it forks).
class ContactRecorder {
 public:
  struct Recorded {
    size_t run = 0;
    bool ok = true;
    std::vector<std::string> log_lines;  // on a failure, as the agent logs it
  };

  // `server` is the agents' server field; failures are logged into
  // `temp_folder` (a folder of the recorder's own) and handed back.
  // Failure: the child process cannot be started.
  static Result<std::unique_ptr<ContactRecorder>> Start(const std::string& server,
                                                        const std::filesystem::path& temp_folder);
  // Stops, waits for the record under way, and ends the child.
  ~ContactRecorder();
  ContactRecorder(const ContactRecorder&) = delete;
  ContactRecorder& operator=(const ContactRecorder&) = delete;

  // Records the contact with `name` (run `run` of the fleet).
  void Add(size_t run, std::string name);
  // Readable while records wait to be taken.
  int fd() const { return event_.get(); }
  // The records finished since the last call.
  std::vector<Recorded> Take();
  // Records not yet begun are dropped; the one under way is finished.
  void Stop();
  // Records added and not yet finished (after Stop: the one under way).
  size_t Unfinished() const;

 private:
  ContactRecorder(pid_t child, UniqueFd channel);
  void Work();

  const pid_t child_;
  UniqueFd channel_;  // to the child: a name out, its record back
  UniqueFd event_;
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::pair<size_t, std::string>> queue_;  // guarded by mutex_
  std::vector<Recorded> finished_;                    // guarded by mutex_
  bool busy_ = false;                                 // guarded by mutex_
  bool stopped_ = false;                              // guarded by mutex_
  std::thread thread_;
};

}  // namespace hostlore::fleet
