#include "fleet/fleet_runner.h"

#include <poll.h>
#include <sys/resource.h>
#include <sys/signalfd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstring>
#include <limits>
#include <memory>

#include "fleet/agent_folders.h"
#include "fleet/agent_spawner.h"
#include "fleet/progress_line.h"
#include "fleet/progress_pipe.h"

namespace hostlore::fleet {
namespace {

constexpr size_t kNone = std::numeric_limits<size_t>::max();
constexpr auto kKillGrace = std::chrono::seconds(2);
constexpr auto kRefreshEvery = std::chrono::milliseconds(100);

// Blocks the signals that the runner handles and delivers them through a
// descriptor instead; restores the old mask when destroyed.
class SignalChannel {
 public:
  SignalChannel() {
    sigemptyset(&handled_);
    for (int signal : {SIGCHLD, SIGINT, SIGTERM, SIGHUP, SIGWINCH}) sigaddset(&handled_, signal);
    ::sigprocmask(SIG_BLOCK, &handled_, &old_mask_);
    fd_ = ::signalfd(-1, &handled_, SFD_NONBLOCK | SFD_CLOEXEC);
  }
  ~SignalChannel() {
    if (fd_ >= 0) ::close(fd_);
    ::sigprocmask(SIG_SETMASK, &old_mask_, nullptr);
  }
  SignalChannel(const SignalChannel&) = delete;
  SignalChannel& operator=(const SignalChannel&) = delete;

  int fd() const { return fd_; }
  // The signals that arrived since the last call.
  std::vector<int> Take() {
    std::vector<int> signals;
    signalfd_siginfo info;
    while (::read(fd_, &info, sizeof info) == static_cast<ssize_t>(sizeof info)) {
      signals.push_back(static_cast<int>(info.ssi_signo));
    }
    return signals;
  }

 private:
  sigset_t handled_;
  sigset_t old_mask_;
  int fd_ = -1;
};

struct Slot {
  size_t run = kNone;  // index into FleetState::runs; kNone: free
  pid_t pid = 0;
  Clock::time_point deadline = Clock::time_point::max();  // --timeout
  Clock::time_point kill_at = Clock::time_point::max();   // SIGKILL after SIGTERM
  bool timed_out = false;
  bool interrupted = false;
};

class Runner {
 public:
  Runner(const RunnerOptions& options, FleetState& state, FleetView& view, ProgressPipe& pipe,
         AgentFolders& folders)
      : options_(options), state_(state), view_(view), pipe_(pipe), folders_(folders),
        slots_(static_cast<size_t>(options.jobs)) {}

  void Run(SignalChannel& signals) {
    while (true) {
      StartWaiting();
      if (running_ == 0 && (next_ == state_.runs.size() || state_.interrupted)) break;
      pollfd fds[2] = {{pipe_.read_fd(), POLLIN, 0}, {signals.fd(), POLLIN, 0}};
      ::poll(fds, 2, PollTimeout());
      if (fds[0].revents & POLLIN) ReadProgress();
      if (fds[1].revents & POLLIN) {
        for (int signal : signals.Take()) HandleSignal(signal);
      }
      EnforceDeadlines();
      view_.Refresh(state_);
    }
    for (size_t i = next_; i < state_.runs.size(); ++i) {
      state_.runs[i].FinishWithout(Outcome::kNotStarted, "the fleet was interrupted", Clock::now());
    }
  }

 private:
  void StartWaiting() {
    while (!state_.interrupted && next_ < state_.runs.size() && running_ < slots_.size()) {
      const auto free = std::find_if(slots_.begin(), slots_.end(),
                                     [](const Slot& slot) { return slot.run == kNone; });
      Start(static_cast<int>(free - slots_.begin()), next_++);
    }
  }

  void Start(int slot_number, size_t run_index) {
    TargetRun& run = state_.runs[run_index];
    run.name = run.target;
    run.started = Clock::now();
    Result<std::filesystem::path> folder = folders_.Prepare(slot_number);
    Result<pid_t> pid = folder.ok() ? SpawnAgent(AgentStart{options_.agent_path,
                                                            CommandLine(run, slot_number),
                                                            folder.value()})
                                    : Result<pid_t>(folder.status());
    if (!pid.ok()) {
      run.FinishWithout(Outcome::kFailed, pid.status().description(), Clock::now());
      view_.Finished(run);
      return;
    }
    run.state = RunState::kRunning;
    Slot& slot = slots_[static_cast<size_t>(slot_number)];
    slot = Slot{};
    slot.run = run_index;
    slot.pid = pid.value();
    if (options_.timeout.count() > 0) slot.deadline = run.started + options_.timeout;
    ++running_;
  }

  std::string CommandLine(const TargetRun& run, int slot_number) const {
    return std::to_string(pipe_.write_fd()) + "," + run.target + "," + options_.server + "," +
           (options_.user_only ? "-u" : "") + "," + std::to_string(slot_number);
  }

  void ReadProgress() {
    for (const std::string& text : pipe_.ReadLines(state_.malformed_lines)) {
      const std::optional<ProgressLine> line = ParseProgressLine(text);
      const size_t slot = line ? static_cast<size_t>(line->caller_index) : kNone;
      if (!line || line->caller_index < 0 || slot >= slots_.size() || slots_[slot].run == kNone) {
        ++state_.malformed_lines;
        continue;
      }
      state_.runs[slots_[slot].run].Apply(*line);
    }
  }

  void HandleSignal(int signal) {
    if (signal == SIGCHLD) {
      Reap();
    } else if (signal != SIGWINCH) {
      // A second request does not wait for the agents' grace period.
      const bool again = state_.interrupted;
      state_.interrupted = true;
      for (Slot& slot : slots_) {
        if (slot.run == kNone) continue;
        slot.interrupted = true;
        if (again) {
          ::kill(-slot.pid, SIGKILL);
        } else {
          Terminate(slot);
        }
      }
    }
  }

  void Terminate(Slot& slot) {
    ::kill(-slot.pid, SIGTERM);
    slot.kill_at = std::min(slot.kill_at, Clock::now() + kKillGrace);
  }

  void EnforceDeadlines() {
    const Clock::time_point now = Clock::now();
    for (Slot& slot : slots_) {
      if (slot.run == kNone) continue;
      if (now >= slot.kill_at) {
        ::kill(-slot.pid, SIGKILL);
        slot.kill_at = Clock::time_point::max();
      } else if (now >= slot.deadline && !slot.timed_out && !slot.interrupted) {
        slot.timed_out = true;
        Terminate(slot);
      }
    }
  }

  int PollTimeout() const {
    Clock::time_point wake = Clock::now() + kRefreshEvery;
    for (const Slot& slot : slots_) {
      if (slot.run != kNone) wake = std::min({wake, slot.deadline, slot.kill_at});
    }
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now());
    return static_cast<int>(std::max<int64_t>(0, wait.count()));
  }

  // Every ended agent: its lines are all in the pipe once waitpid reports the
  // end, so the pipe is drained before the slot is given away.
  void Reap() {
    int status = 0;
    rusage usage{};
    pid_t pid;
    while ((pid = ::wait4(-1, &status, WNOHANG, &usage)) > 0) {
      const auto slot = std::find_if(slots_.begin(), slots_.end(),
                                     [pid](const Slot& s) { return s.run != kNone && s.pid == pid; });
      if (slot == slots_.end()) continue;
      ReadProgress();
      AgentEnd end;
      end.exited = WIFEXITED(status);
      end.exit_status = end.exited ? WEXITSTATUS(status) : 0;
      end.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
      end.timed_out = slot->timed_out;
      end.interrupted = slot->interrupted;
      end.max_rss_kb = usage.ru_maxrss;
      const int slot_number = static_cast<int>(slot - slots_.begin());
      end.log_lines = folders_.LogLines(slot_number);
      AppendLogLines(SharedLogPath(), end.log_lines);
      TargetRun& run = state_.runs[slot->run];
      run.Finish(end, Clock::now());
      slot->run = kNone;
      --running_;
      view_.Finished(run);
    }
  }

  const RunnerOptions& options_;
  FleetState& state_;
  FleetView& view_;
  ProgressPipe& pipe_;
  AgentFolders& folders_;
  std::vector<Slot> slots_;
  size_t next_ = 0;     // the next target to start
  size_t running_ = 0;  // slots in use
};

}  // namespace

Status RunFleet(const RunnerOptions& options, FleetState& state, FleetView& view) {
  Result<std::unique_ptr<ProgressPipe>> pipe = ProgressPipe::Open();
  if (!pipe.ok()) return pipe.status();
  Result<std::unique_ptr<AgentFolders>> folders = AgentFolders::Create();
  if (!folders.ok()) return folders.status();
  SignalChannel signals;
  if (signals.fd() < 0) return Status::Failure(errno, std::string("signalfd: ") + std::strerror(errno));
  state.started = Clock::now();
  Runner(options, state, view, *pipe.value(), *folders.value()).Run(signals);
  // A late Ctrl-C must not end the runner before it prints the summary.
  signals.Take();
  view.Close(state);
  return Status::Ok();
}

}  // namespace hostlore::fleet
