#include "fleet/fleet_runner.h"

#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <unordered_map>

#include "fleet/agent_folders.h"
#include "fleet/agent_starter.h"
#include "fleet/contact_recorder.h"
#include "fleet/progress_line.h"
#include "fleet/progress_pipe.h"
#include "fleet/signal_channel.h"
#include "fleet/target_sweep.h"
#include "platform/make_echo_sweep.h"

namespace hostlore::fleet {
namespace {

constexpr size_t kNone = std::numeric_limits<size_t>::max();
constexpr auto kKillGrace = std::chrono::seconds(2);
constexpr auto kRefreshEvery = std::chrono::milliseconds(100);
// Name lookups at once: enough to hide a name server's round trips.
constexpr int kLookupThreads = 16;
// Agent starts at once: each waits for its new process's turn on a processor.
constexpr int kStartThreads = 8;

struct Slot {
  size_t run = kNone;  // index into FleetState::runs; kNone: free
  pid_t pid = 0;       // 0 while the agent is being started
  std::string address;  // the address that answered the sweep's echo
  Clock::time_point deadline = Clock::time_point::max();  // --timeout
  Clock::time_point kill_at = Clock::time_point::max();   // SIGKILL after SIGTERM
  bool timed_out = false;
  bool interrupted = false;
};

// What the runner owns for the echo sweep.
struct SweepParts {
  std::unique_ptr<EchoSweep> echo;
  std::vector<std::string> targets;  // the runs' targets, in their order
  std::unique_ptr<ContactRecorder> recorder;
};

class Runner {
 public:
  Runner(const RunnerOptions& options, FleetState& state, FleetView& view, ProgressPipe& pipe,
         AgentFolders& folders, SweepParts& sweep)
      : options_(options), state_(state), view_(view), pipe_(pipe), folders_(folders),
        slots_(static_cast<size_t>(options.jobs)), starter_(kStartThreads) {
    if (sweep.echo == nullptr) return;
    sweep_ = std::make_unique<TargetSweep>(*sweep.echo, sweep.targets, options.rate, kLookupThreads);
    recorder_ = std::move(sweep.recorder);
  }

  void Run(SignalChannel& signals) {
    while (true) {
      FollowSweep();
      TakeRecords();
      StartWaiting();
      if (AllDone()) break;
      std::vector<pollfd> fds = {{pipe_.read_fd(), POLLIN, 0}, {signals.fd(), POLLIN, 0},
                                 {starter_.fd(), POLLIN, 0}};
      if (sweep_) {
        for (int fd : sweep_->Fds()) fds.push_back({fd, POLLIN, 0});
        fds.push_back({recorder_->fd(), POLLIN, 0});
      }
      ::poll(fds.data(), fds.size(), PollTimeout());
      if (fds[0].revents & POLLIN) ReadProgress();
      if (fds[1].revents & POLLIN) {
        for (int signal : signals.Take()) HandleSignal(signal);
      }
      if (fds[2].revents & POLLIN) TakeStarted();
      EnforceDeadlines();
      view_.Refresh(state_);
    }
    TakeRecords();  // the one that was under way when the fleet was interrupted
    for (TargetRun& run : state_.runs) {
      if (run.state != RunState::kFinished) {
        run.FinishWithout(Outcome::kNotStarted, "the fleet was interrupted", Clock::now());
      }
    }
  }

 private:
  bool AllDone() const {
    if (running_ > 0) return false;
    if (!sweep_) return state_.interrupted || next_ == state_.runs.size();
    if (recorder_->Unfinished() > 0) return false;
    return state_.interrupted || (sweep_->Finished() && ready_.empty());
  }

  // Answering targets wait for a job; the others have their contact recorded.
  void FollowSweep() {
    if (!sweep_) return;
    for (const SweepOutcome& outcome : sweep_->Step()) {
      TargetRun& run = state_.runs[outcome.target];
      if (outcome.kind == SweepOutcome::Kind::kAnswered) {
        ready_.emplace_back(outcome.target, outcome.address);
        continue;
      }
      run.started = outcome.sent;
      recording_[outcome.target] =
          outcome.kind == SweepOutcome::Kind::kSilent ? Outcome::kNotAnswering : Outcome::kUnknownName;
      recorder_->Add(outcome.target, run.target);
    }
    state_.sweep = sweep_->counts();
    state_.sweep.waiting = ready_.size();
    state_.sweep.recording = recorder_->Unfinished();
  }

  void TakeRecords() {
    if (!recorder_) return;
    for (ContactRecorder::Recorded& recorded : recorder_->Take()) {
      TargetRun& run = state_.runs[recorded.run];
      const auto intended = recording_.find(recorded.run);
      if (recorded.ok) {
        run.FinishWithout(intended->second, "", Clock::now());
      } else {
        // As the agent would have ended: its log line, exit status 1.
        AppendLogLines(SharedLogPath(), recorded.log_lines);
        AgentEnd end;
        end.exited = true;
        end.exit_status = 1;
        end.log_lines = std::move(recorded.log_lines);
        run.Finish(end, Clock::now());
      }
      recording_.erase(intended);
      view_.Finished(run);
    }
  }

  void StartWaiting() {
    while (running_ < slots_.size()) {
      std::string address;
      const size_t run = NextToStart(address);
      if (run == kNone) return;
      const auto free = std::find_if(slots_.begin(), slots_.end(),
                                     [](const Slot& slot) { return slot.run == kNone; });
      Start(static_cast<int>(free - slots_.begin()), run, std::move(address));
    }
  }

  // The next target for an agent, or kNone. Of the answering targets, one
  // whose address has an agent already waits for it to end: two agents on
  // one computer would race to create its rows.
  size_t NextToStart(std::string& address) {
    if (state_.interrupted) return kNone;
    if (!sweep_) return next_ < state_.runs.size() ? next_++ : kNone;
    for (auto it = ready_.begin(); it != ready_.end(); ++it) {
      if (busy_addresses_.contains(it->second)) continue;
      const size_t run = it->first;
      address = std::move(it->second);
      ready_.erase(it);
      return run;
    }
    return kNone;
  }

  // The slot is the run's from now on; its agent starts on the starter's
  // threads.
  void Start(int slot_number, size_t run_index, std::string address) {
    TargetRun& run = state_.runs[run_index];
    run.name = run.target;
    run.started = Clock::now();
    run.state = RunState::kRunning;
    Slot& slot = slots_[static_cast<size_t>(slot_number)];
    slot = Slot{};
    slot.run = run_index;
    slot.address = std::move(address);
    if (!slot.address.empty()) ++busy_addresses_[slot.address];
    if (options_.timeout.count() > 0) slot.deadline = run.started + options_.timeout;
    ++running_;
    Result<std::filesystem::path> folder = folders_.Prepare(slot_number);
    if (!folder.ok()) {
      Release(slot_number, [&](TargetRun& failed) {
        failed.FinishWithout(Outcome::kFailed, folder.status().description(), Clock::now());
      });
      return;
    }
    starter_.Start(slot_number, AgentStart{options_.agent_path, CommandLine(run, slot_number), folder.value()});
  }

  void TakeStarted() {
    for (AgentStarter::Started& started : starter_.Take()) {
      Slot& slot = slots_[static_cast<size_t>(started.slot)];
      if (!started.pid.ok()) {
        Release(started.slot, [&](TargetRun& run) {
          run.FinishWithout(Outcome::kFailed, started.pid.status().description(), Clock::now());
        });
        continue;
      }
      slot.pid = started.pid.value();
      if (slot.interrupted) Terminate(slot);
      // It may have ended (and been reaped) before its start was taken.
      const auto ended = early_ends_.find(slot.pid);
      if (ended != early_ends_.end()) {
        Finish(started.slot, ended->second.first, ended->second.second);
        early_ends_.erase(ended);
      }
    }
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
      if (sweep_) {
        sweep_->Stop();
        recorder_->Stop();
        ready_.clear();
      }
      for (Slot& slot : slots_) {
        if (slot.run == kNone) continue;
        slot.interrupted = true;
        // An agent still being started is ended once its start is taken.
        if (slot.pid == 0) continue;
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
      if (slot.run == kNone || slot.pid == 0) continue;
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
    if (sweep_) wake = std::min(wake, sweep_->NextWake());
    const auto wait = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now());
    return static_cast<int>(std::max<int64_t>(0, wait.count()));
  }

  // Every ended agent. An agent whose start has not been taken yet is
  // finished when it is.
  void Reap() {
    int status = 0;
    rusage usage{};
    pid_t pid;
    while ((pid = ::wait4(-1, &status, WNOHANG, &usage)) > 0) {
      const auto slot = std::find_if(slots_.begin(), slots_.end(),
                                     [pid](const Slot& s) { return s.run != kNone && s.pid == pid; });
      if (slot == slots_.end()) {
        early_ends_[pid] = {status, usage};
        continue;
      }
      Finish(static_cast<int>(slot - slots_.begin()), status, usage);
    }
  }

  // Its lines are all in the pipe once waitpid has reported the end, so the
  // pipe is drained before the slot is given away.
  void Finish(int slot_number, int status, const rusage& usage) {
    const Slot& slot = slots_[static_cast<size_t>(slot_number)];
    ReadProgress();
    AgentEnd end;
    end.exited = WIFEXITED(status);
    end.exit_status = end.exited ? WEXITSTATUS(status) : 0;
    end.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
    end.timed_out = slot.timed_out;
    end.interrupted = slot.interrupted;
    end.max_rss_kb = usage.ru_maxrss;
    end.log_lines = folders_.LogLines(slot_number);
    AppendLogLines(SharedLogPath(), end.log_lines);
    Release(slot_number, [&](TargetRun& run) { run.Finish(end, Clock::now()); });
  }

  // Frees the slot after `finish` has classified its run.
  template <typename Finisher>
  void Release(int slot_number, const Finisher& finish) {
    Slot& slot = slots_[static_cast<size_t>(slot_number)];
    TargetRun& run = state_.runs[slot.run];
    finish(run);
    if (!slot.address.empty() && --busy_addresses_[slot.address] == 0) busy_addresses_.erase(slot.address);
    slot.run = kNone;
    --running_;
    view_.Finished(run);
  }

  const RunnerOptions& options_;
  FleetState& state_;
  FleetView& view_;
  ProgressPipe& pipe_;
  AgentFolders& folders_;
  std::vector<Slot> slots_;
  size_t next_ = 0;     // with an agent per target: the next target to start
  size_t running_ = 0;  // slots in use
  // The echo sweep, when the runner makes one.
  std::unique_ptr<TargetSweep> sweep_;
  std::unique_ptr<ContactRecorder> recorder_;
  std::deque<std::pair<size_t, std::string>> ready_;  // answered: run and address
  std::unordered_map<std::string, int> busy_addresses_;  // agents per answering address
  std::unordered_map<size_t, Outcome> recording_;  // run → its outcome once recorded
  // Agents reaped before their start was taken: pid → status and usage.
  std::unordered_map<pid_t, std::pair<int, rusage>> early_ends_;
  // Declared last: destroyed first, so that no start is under way while the
  // rest goes.
  AgentStarter starter_;
};

}  // namespace

Status RunFleet(const RunnerOptions& options, FleetState& state, FleetView& view) {
  Result<std::unique_ptr<ProgressPipe>> pipe = ProgressPipe::Open();
  if (!pipe.ok()) return pipe.status();
  Result<std::unique_ptr<AgentFolders>> folders = AgentFolders::Create();
  if (!folders.ok()) return folders.status();
  SweepParts sweep;
  if (!options.agent_per_target) {
    for (const TargetRun& run : state.runs) sweep.targets.push_back(run.target);
    // Before any thread starts: the lab's sweep forks to load the lab.
    Result<std::unique_ptr<EchoSweep>> echo = MakeEchoSweep(sweep.targets);
    if (!echo.ok()) return echo.status();
    sweep.echo = std::move(echo).value();
  }
  SignalChannel signals;
  if (signals.fd() < 0) return Status::Failure(errno, std::string("signalfd: ") + std::strerror(errno));
  if (sweep.echo != nullptr) {
    // Its Temp is the slot after the agents' own. It forks: before any
    // thread, and after the signals are blocked, which its child inherits.
    Result<std::filesystem::path> folder = folders.value()->Prepare(options.jobs);
    if (!folder.ok()) return folder.status();
    Result<std::unique_ptr<ContactRecorder>> recorder = ContactRecorder::Start(options.server, folder.value());
    if (!recorder.ok()) return recorder.status();
    sweep.recorder = std::move(recorder).value();
  }
  state.started = Clock::now();
  {
    Runner runner(options, state, view, *pipe.value(), *folders.value(), sweep);
    runner.Run(signals);
  }
  // A late Ctrl-C must not end the runner before it prints the summary.
  signals.Take();
  view.Close(state);
  return Status::Ok();
}

}  // namespace hostlore::fleet
