// Starting the RemoteRegistry service of a target whose registry cannot be
// reached.
#include <cstdlib>
#include <map>

#include "probe/registry_service.h"
#include "scan/scan_state.h"

namespace hostlore {
namespace {

constexpr uint32_t kServiceRights =
    svc::kQueryStatus | svc::kQueryConfig | svc::kChangeConfig | svc::kStart | svc::kStop;

std::string Seconds(std::chrono::milliseconds wait) {
  return std::to_string(wait.count() / 1000) + " s";
}

const char* StateName(uint32_t state) {
  switch (state) {
    case svc::kStopped: return "stopped";
    case svc::kStartPending: return "starting";
    case svc::kStopPending: return "stopping";
    case svc::kRunning: return "running";
    case 5: return "continuing";
    case 6: return "pausing";
    case 7: return "paused";
    default: return "in an unknown state";
  }
}

// Whether the service control manager answered (with a refusal), rather
// than the transport failing: only an answered refusal proves that nothing
// changed.
bool Answered(const Status& failure) {
  return failure.number() != win32::kBadNetPath && failure.number() != win32::kRpcServerUnavailable;
}

// `first` with more said about it.
Status Explained(const Status& first, const std::string& more) {
  return Status::Failure(first.number(), first.description() + "; " + more);
}

class ServiceStartingRegistry final : public RemoteRegistry {
 public:
  ServiceStartingRegistry(std::unique_ptr<RemoteRegistry> inner, ServiceManager& services,
                          Clock& clock, std::shared_ptr<TargetChanges> changes,
                          RegistryServiceSetting setting)
      : inner_(std::move(inner)),
        services_(services),
        clock_(clock),
        changes_(std::move(changes)),
        setting_(std::move(setting)) {}

  Result<std::unique_ptr<RegistryKey>> Connect(const std::string& host, Hive hive) override {
    Result<std::unique_ptr<RegistryKey>> key = inner_->Connect(host, hive);
    if (key.ok()) return key;
    if (auto attempted = outcomes_.find(host); attempted != outcomes_.end()) {
      if (attempted->second.ok()) return key;
      return attempted->second;
    }
    Result<std::unique_ptr<RegistryKey>> started = StartAndConnect(host, hive, key.status());
    outcomes_[host] = started.ok() ? Status::Ok() : started.status();
    return started;
  }

  Status ConnectionLost(const std::string& host) override { return inner_->ConnectionLost(host); }

 private:
  using Connected = Result<std::unique_ptr<RegistryKey>>;

  // Record a change about to be made, when the run is to put it back.
  // False: the run is ending and must change nothing more.
  bool NoteStart(const std::string& host) {
    if (!restoring()) return !changes_->closed();
    KeepRestoreServices();
    return changes_->RecordStart(host);
  }
  bool NoteStartTypeChange(const std::string& host) {
    if (!restoring()) return !changes_->closed();
    KeepRestoreServices();
    return changes_->RecordStartTypeChange(host, svc::kDisabled, svc::kDemandStart);
  }
  // What a termination signal's thread will restore through, made now that
  // the machine has been reached.
  void KeepRestoreServices() {
    if (!changes_->RestoreServices()) changes_->KeepRestoreServices(services_.Independent());
  }
  bool restoring() const { return setting_.policy == RegistryServicePolicy::kRestore; }

  Status Ending(const Status& first) const {
    return Explained(first, "the agent is ending: RemoteRegistry was not started");
  }

  Connected StartAndConnect(const std::string& host, Hive hive, const Status& first) {
    if (first.number() == win32::kAccessDenied) return first;
    Result<std::unique_ptr<Service>> service =
        services_.OpenService(host, kRegistryServiceName, kServiceRights);
    if (!service.ok()) {
      // A service that starts on its pipe's first open needs no one's leave.
      if (first.number() == win32::kPipeBusy) return WaitForPipe(host, hive, first);
      // Nothing is known of the service: the connection's own failure says
      // what there is to say.
      return first;
    }
    Result<uint32_t> state = service.value()->QueryState();
    if (state.ok() && state.value() == svc::kStopPending) {
      state = WaitWhileStopping(*service.value());
    }
    if (!state.ok()) return Explained(first, "RemoteRegistry: " + state.status().description());

    if (state.value() == svc::kRunning || state.value() == svc::kStartPending) {
      // Running, yet the registry refuses: not the service's doing.
      if (state.value() == svc::kRunning && first.number() != win32::kPipeBusy) return first;
      // The pipe was not available: the open just started the service.
      if (first.number() == win32::kPipeBusy && !NoteStart(host)) {
        return Ending(first);
      }
      if (Status running = WaitUntilRunning(*service.value()); !running.ok()) return running;
      return WaitForPipe(host, hive, first);
    }
    if (state.value() != svc::kStopped) {
      return Explained(first, std::string("RemoteRegistry is ") + StateName(state.value()));
    }
    if (Status started = Start(host, *service.value()); !started.ok()) return started;
    return WaitForPipe(host, hive, first);
  }

  // Starts a stopped service, making a disabled one start on demand first.
  Status Start(const std::string& host, Service& service) {
    Result<uint32_t> start_type = service.QueryStartType();
    if (!start_type.ok()) {
      return Status::Failure(start_type.status().number(),
                             "RemoteRegistry is stopped and its start type cannot be read: " +
                                 start_type.status().description());
    }
    const std::string found = std::string("RemoteRegistry is stopped (") +
                              (start_type.value() == svc::kDisabled ? "disabled" : "not disabled") +
                              ")";
    if (!setting_.unknown_value.empty()) {
      return Status::Failure(win32::kServiceNotActive,
                             found + " and was left so: HOSTLORE_REMOTE_REGISTRY=" +
                                 setting_.unknown_value + " is not one of restore, leave, off");
    }
    if (setting_.policy == RegistryServicePolicy::kOff) {
      return Status::Failure(win32::kServiceNotActive,
                             found + " and was left so: HOSTLORE_REMOTE_REGISTRY=off");
    }
    if (start_type.value() == svc::kDisabled) {
      if (!NoteStartTypeChange(host)) {
        return Status::Failure(win32::kServiceNotActive, found + "; the agent is ending");
      }
      const Status changed =
          changes_->Send([&service] { return service.ChangeStartType(svc::kDemandStart); });
      if (!changed.ok()) {
        if (Answered(changed)) changes_->ForgetStartTypeChange();
        return Status::Failure(
            changed.number(),
            found + " and could not be set to start on demand: " + changed.description());
      }
    }
    if (!NoteStart(host)) {
      return Status::Failure(win32::kServiceNotActive, found + "; the agent is ending");
    }
    Status started = changes_->Send([&service] { return service.Start(); });
    if (!started.ok() && started.number() != win32::kServiceAlreadyRunning) {
      // A start that timed out on the target may still come up.
      if (Answered(started) && started.number() != win32::kServiceRequestTimeout) {
        changes_->ForgetStart();
      }
      return Status::Failure(started.number(),
                             "RemoteRegistry could not be started: " + started.description());
    }
    return WaitUntilRunning(service);
  }

  Result<uint32_t> WaitWhileStopping(Service& service) {
    for (auto waited = std::chrono::milliseconds(0);; waited += kPollEvery) {
      Result<uint32_t> state = service.QueryState();
      if (!state.ok() || state.value() != svc::kStopPending || waited >= kStartWait) return state;
      clock_.Sleep(kPollEvery);
    }
  }

  Status WaitUntilRunning(Service& service) {
    for (auto waited = std::chrono::milliseconds(0);; waited += kPollEvery) {
      Result<uint32_t> state = service.QueryState();
      if (!state.ok()) {
        return Status::Failure(state.status().number(),
                               "RemoteRegistry was started, but its state cannot be read: " +
                                   state.status().description());
      }
      if (state.value() == svc::kRunning) return Status::Ok();
      if (changes_->closed()) {
        return Status::Failure(win32::kServiceRequestTimeout,
                               "the agent is ending while RemoteRegistry starts");
      }
      if (waited >= kStartWait) {
        return Status::Failure(win32::kServiceRequestTimeout,
                               "RemoteRegistry did not start within " + Seconds(kStartWait) +
                                   " (still " + StateName(state.value()) + ")");
      }
      clock_.Sleep(kPollEvery);
    }
  }

  Connected WaitForPipe(const std::string& host, Hive hive, const Status& first) {
    Status last = first;
    for (auto waited = std::chrono::milliseconds(0); waited <= kPipeWait; waited += kPollEvery) {
      Connected key = inner_->Connect(host, hive);
      if (key.ok()) return key;
      last = key.status();
      if (last.number() == win32::kAccessDenied || changes_->closed()) return last;
      clock_.Sleep(kPollEvery);
    }
    return Status::Failure(last.number(),
                           "RemoteRegistry runs, but the registry could not be "
                           "reached within " +
                               Seconds(kPipeWait) + ": " + last.description());
  }

  std::unique_ptr<RemoteRegistry> inner_;
  ServiceManager& services_;
  Clock& clock_;
  std::shared_ptr<TargetChanges> changes_;
  RegistryServiceSetting setting_;
  // Per machine, how its one start attempt ended (success or why not).
  std::map<std::string, Status> outcomes_;
};

}  // namespace

RegistryServiceSetting ReadRegistryServiceSetting() {
  const char* value = std::getenv("HOSTLORE_REMOTE_REGISTRY");
  const std::string text = value != nullptr ? value : "";
  if (text.empty() || text == "restore") return {RegistryServicePolicy::kRestore, {}};
  if (text == "leave") return {RegistryServicePolicy::kLeave, {}};
  if (text == "off") return {RegistryServicePolicy::kOff, {}};
  return {RegistryServicePolicy::kOff, text};
}

std::unique_ptr<RemoteRegistry> NewServiceStartingRegistry(std::unique_ptr<RemoteRegistry> inner,
                                                           ServiceManager& services, Clock& clock,
                                                           std::shared_ptr<TargetChanges> changes,
                                                           RegistryServiceSetting setting) {
  return std::make_unique<ServiceStartingRegistry>(std::move(inner), services, clock,
                                                   std::move(changes), std::move(setting));
}

void StartRegistryServiceWhenNeeded(ScanState& state) {
  Platform& p = state.platform;
  p.registry = NewServiceStartingRegistry(std::move(p.registry), *p.services, *p.clock,
                                          state.Changes, ReadRegistryServiceSetting());
}

}  // namespace hostlore
