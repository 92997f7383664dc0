// What a run changed on its target, so that every way the run ends can put
// it back: today the RemoteRegistry service, which the agent may set to
// start on demand and start when it finds it stopped.
//
// The scan's thread records a change just before it sends the request that
// makes it, so that a run ended while the request is on its way still puts
// it back (putting back what did not change is harmless), and sends the
// request through Send, so that the thread that ends the run on a
// termination signal can let it land before putting things back. That
// thread closes the record: from then on nothing new may be changed. Safe
// to use from both threads.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>

#include "platform/services/service_manager.h"
#include "platform/status.h"

namespace hostlore {

struct RegistryServiceChange {
  std::string host;  // the target's address, where the service was changed
  bool start_type_changed = false;
  uint32_t original_start_type = 0;  // svc::kAutoStart ...
  uint32_t changed_start_type = 0;
  bool started = false;  // started by this run (directly or by its trigger)
};

class TargetChanges {
 public:
  // Records a change about to be made. False when the record is closed:
  // the run is ending and must change nothing more.
  bool RecordStartTypeChange(const std::string& host, uint32_t original, uint32_t changed);
  bool RecordStart(const std::string& host);
  // The request was refused: it changed nothing.
  void ForgetStartTypeChange();
  void ForgetStart();

  // Sends a change request, known to be on its way until it returns.
  Status Send(const std::function<Status()>& request);
  // Waits until no change request is on its way, or until `deadline`;
  // false when one still is.
  bool AwaitRequests(std::chrono::steady_clock::time_point deadline);

  // The service manager a restore on another thread uses: connections of
  // its own, made by the scan's thread when it records its first change.
  void KeepRestoreServices(std::shared_ptr<ServiceManager> services);
  std::shared_ptr<ServiceManager> RestoreServices() const;

  bool closed() const;
  // Closes the record and returns what is still to be put back (nothing
  // once a restore has been made).
  std::optional<RegistryServiceChange> Close();
  // A restore was made (whether or not it succeeded).
  void MarkRestored();

 private:
  mutable std::mutex mutex_;
  std::condition_variable landed_;
  int in_flight_ = 0;
  std::optional<RegistryServiceChange> change_;
  std::shared_ptr<ServiceManager> restore_services_;
  bool closed_ = false;
  bool restored_ = false;
};

}  // namespace hostlore
