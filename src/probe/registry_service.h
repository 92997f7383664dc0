// The target's RemoteRegistry service: started when the registry cannot be
// reached because the service is stopped (the default of Windows 8 and
// later clients), and put back as it was found when the run ends.
//
// HOSTLORE_REMOTE_REGISTRY chooses what the agent may do:
//   restore (or unset)  start the service when needed (setting a disabled
//                       service to start on demand first), and put both
//                       back when the run ends;
//   leave               start it when needed and leave it running with the
//                       start type it was given;
//   off                 never change the service: a stopped service fails
//                       the access check.
// Any other value changes nothing, as "off" does, and the connection's
// failure names the value.
//
// Time bounds: a service asked to start must run within kStartWait, and its
// pipe must open within kPipeWait after that (also the wait for a service
// that starts on its pipe's first open); the state is asked every
// kPollEvery. A restore gives a service that cannot take the stop request
// yet (still starting) kStopRetries more tries, kPollEvery apart.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "platform/clock/clock.h"
#include "platform/registry/registry.h"
#include "platform/services/service_manager.h"
#include "scan/target_changes.h"

namespace hostlore {

struct ScanState;

inline constexpr const char* kRegistryServiceName = "RemoteRegistry";
inline constexpr std::chrono::milliseconds kPollEvery{250};
inline constexpr std::chrono::milliseconds kStartWait{10000};
inline constexpr std::chrono::milliseconds kPipeWait{5000};
inline constexpr int kStopRetries = 4;

enum class RegistryServicePolicy { kRestore, kLeave, kOff };

struct RegistryServiceSetting {
  RegistryServicePolicy policy = RegistryServicePolicy::kRestore;
  // Set for a value that is none of the three: nothing is changed and the
  // connection's failure says why.
  std::string unknown_value;
};

// HOSTLORE_REMOTE_REGISTRY as read from the environment.
RegistryServiceSetting ReadRegistryServiceSetting();

// A registry seam over `inner` that, when a machine's registry cannot be
// reached (any failure but access denied), asks `services` about the
// machine's RemoteRegistry service and starts it as `setting` allows,
// recording every change in `changes` first. Each machine gets one such
// attempt per run; when it fails, every later failed connection to that
// machine carries the attempt's reason. `services`, `clock` and `changes`
// must outlive the seam.
std::unique_ptr<RemoteRegistry> NewServiceStartingRegistry(std::unique_ptr<RemoteRegistry> inner,
                                                           ServiceManager& services, Clock& clock,
                                                           std::shared_ptr<TargetChanges> changes,
                                                           RegistryServiceSetting setting);

// Puts `state.platform.registry` behind NewServiceStartingRegistry with the
// environment's setting and `state.Changes`.
void StartRegistryServiceWhenNeeded(ScanState& state);

// What `change` leaves changed when it is not put back, as the log says it:
// "RemoteRegistry left running (it was stopped) and left on demand (it was
// disabled)".
std::string LeftChanged(const RegistryServiceChange& change);

// Puts back what `change` records: stops the service if the run started it,
// sets its start type back if the run changed it. For any thread, given a
// service manager of its own. Failure: what was left changed, and why.
Status RestoreRegistryService(ServiceManager& services, Clock& clock,
                              const RegistryServiceChange& change);

// Closes `state.Changes` and puts back what it holds, through the run's own
// service manager. A failure is logged ("Unable to restore RemoteRegistry",
// TargetName + ":" + what was left changed) with a "Complete" line, which
// makes the exit status 1.
void RestoreRemoteRegistry(ScanState& state);

}  // namespace hostlore
