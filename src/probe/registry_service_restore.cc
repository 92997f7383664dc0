// Putting the RemoteRegistry service back as the run found it.
#include <vector>

#include "diag/log_error.h"
#include "diag/report_progress.h"
#include "probe/registry_service.h"
#include "scan/scan_state.h"

namespace hostlore {
namespace {

const char* StartTypeText(uint32_t start_type) {
  switch (start_type) {
    case svc::kAutoStart: return "automatic";
    case svc::kDemandStart: return "on demand";
    case svc::kDisabled: return "disabled";
    default: return "another start type";
  }
}

std::string Join(const std::vector<std::string>& parts, const char* separator) {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : separator) + part;
  return text;
}

std::string LeftRunning() { return "left running (it was stopped)"; }

std::string LeftStartType(const RegistryServiceChange& change) {
  return std::string("left ") + StartTypeText(change.changed_start_type) + " (it was " +
         StartTypeText(change.original_start_type) + ")";
}

}  // namespace

std::string LeftChanged(const RegistryServiceChange& change) {
  std::vector<std::string> left;
  if (change.started) left.push_back(LeftRunning());
  if (change.start_type_changed) left.push_back(LeftStartType(change));
  return std::string(kRegistryServiceName) + " " + Join(left, " and ");
}

Status RestoreRegistryService(ServiceManager& services, Clock& clock,
                              const RegistryServiceChange& change) {
  const std::string left_running = LeftRunning();
  const std::string left_start_type = LeftStartType(change);
  std::vector<std::string> left;
  std::vector<std::string> why;

  Result<std::unique_ptr<Service>> service = services.OpenService(
      change.host, kRegistryServiceName, svc::kQueryStatus | svc::kChangeConfig | svc::kStop);
  if (!service.ok()) {
    if (change.started) left.push_back(left_running);
    if (change.start_type_changed) left.push_back(left_start_type);
    why.push_back(service.status().description());
  } else {
    if (change.started) {
      Status stopped = service.value()->Stop();
      // A service still starting cannot take the request yet.
      for (int i = 0; i < kStopRetries && stopped.number() == win32::kServiceCannotAcceptControl;
           ++i) {
        clock.Sleep(kPollEvery);
        stopped = service.value()->Stop();
      }
      if (!stopped.ok() && stopped.number() != win32::kServiceNotActive) {
        left.push_back(left_running);
        why.push_back(stopped.description());
      }
    }
    if (change.start_type_changed) {
      if (Status back = service.value()->ChangeStartType(change.original_start_type); !back.ok()) {
        left.push_back(left_start_type);
        why.push_back(back.description());
      }
    }
  }
  if (left.empty()) return Status::Ok();
  return Status::Failure(
      win32::kServiceNotActive,
      std::string(kRegistryServiceName) + " " + Join(left, " and ") + ": " + Join(why, "; "));
}

void RestoreRemoteRegistry(ScanState& state) {
  std::optional<RegistryServiceChange> change = state.Changes->Close();
  if (!change || !state.platform.services || !state.platform.clock) return;
  const Status restored =
      RestoreRegistryService(*state.platform.services, *state.platform.clock, *change);
  state.Changes->MarkRestored();
  if (restored.ok()) return;
  LogError(state, "Unable to restore RemoteRegistry",
           state.TargetName + ":" + restored.description());
  ReportFailureComplete(state);
}

}  // namespace hostlore
