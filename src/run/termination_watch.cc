#include "run/termination_watch.h"

#include <poll.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <sys/signalfd.h>

#include <cerrno>
#include <cstring>
#include <future>

#include "diag/log_error.h"
#include "diag/report_progress.h"
#include "probe/registry_service.h"
#include "scan/process_end.h"
#include "scan/scan_state.h"

namespace hostlore {
namespace {

sigset_t TerminationSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) sigaddset(&set, signal);
  return set;
}

std::string SignalText(int signal_number) {
  const char* name = signal_number == SIGTERM  ? "SIGTERM"
                     : signal_number == SIGINT ? "SIGINT"
                     : signal_number == SIGHUP ? "SIGHUP"
                                               : "a signal";
  return "signal " + std::to_string(signal_number) + " (" + name + ")";
}

}  // namespace

void BlockTerminationSignals() {
  const sigset_t set = TerminationSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
}

TerminationWatch::TerminationWatch(ScanState& state)
    : temp_dir_(state.TempDir),
      caller_index_(state.CallerIndex),
      progress_window_(state.ProgressWindow),
      target_(state.TargetName),
      changes_(state.Changes) {
  const sigset_t set = TerminationSignals();
  signals_ = UniqueFd(::signalfd(-1, &set, SFD_CLOEXEC));
  stop_ = UniqueFd(::eventfd(0, EFD_CLOEXEC));
  thread_ = std::thread([this] { Watch(); });
}

TerminationWatch::~TerminationWatch() {
  const uint64_t one = 1;
  if (stop_.valid()) (void)!::write(stop_.get(), &one, sizeof one);
  if (thread_.joinable()) thread_.join();
}

void TerminationWatch::Watch() {
  if (!signals_.valid() || !stop_.valid()) return;
  pollfd fds[2] = {{signals_.get(), POLLIN, 0}, {stop_.get(), POLLIN, 0}};
  for (;;) {
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      return;
    }
    if (fds[1].revents != 0) return;
    signalfd_siginfo info{};
    if (fds[0].revents != 0 && ::read(signals_.get(), &info, sizeof info) == sizeof info) {
      EndRun(static_cast<int>(info.ssi_signo));
    }
  }
}

void TerminationWatch::EndRun(int signal_number) {
  const auto deadline = std::chrono::steady_clock::now() + kTerminationBound;
  // From here on the scan's thread changes nothing more on the target.
  const std::optional<RegistryServiceChange> change = changes_->Close();
  Status restored;
  const std::shared_ptr<ServiceManager> services = changes_->RestoreServices();
  if (change && services) {
    // A change request on its way lands first (a start that landed after
    // the stop would leave the service running), for at most a third of
    // the time.
    changes_->AwaitRequests(std::chrono::steady_clock::now() + kTerminationBound / 3);
    // On a thread that may be abandoned: the process ends at the deadline
    // whatever the restore still waits for.
    auto outcome = std::make_shared<std::promise<Status>>();
    std::future<Status> done = outcome->get_future();
    std::thread([services, change = *change, outcome] {
      const std::unique_ptr<Clock> clock = NewSystemClock();
      outcome->set_value(RestoreRegistryService(*services, *clock, change));
    }).detach();
    if (done.wait_until(deadline) == std::future_status::ready) {
      restored = done.get();
    } else {
      restored = Status::Failure(win32::kServiceRequestTimeout,
                                 LeftChanged(*change) + ": the restore did not end within " +
                                     std::to_string(kTerminationBound.count()) + " ms");
    }
    changes_->MarkRestored();
  }

  // The scan's own state is the scan thread's: the lines are written from
  // a copy of what was taken when the watch began.
  auto shadow = std::make_unique<ScanState>();
  shadow->TempDir = temp_dir_;
  shadow->CallerIndex = caller_index_;
  shadow->ProgressWindow = progress_window_;
  shadow->TargetName = target_;
  if (change) shadow->TargetAddress = change->host;
  LogError(*shadow, "Hostlore.Scan", target_ + ":ended by " + SignalText(signal_number));
  if (!restored.ok()) {
    LogError(*shadow, "Unable to restore RemoteRegistry", target_ + ":" + restored.description());
  }
  ReportStep(*shadow, "Complete");
  ::_exit(kExitFailure);
}

}  // namespace hostlore
