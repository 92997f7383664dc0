#include "scan/target_changes.h"

namespace hostlore {

bool TargetChanges::RecordStartTypeChange(const std::string& host, uint32_t original,
                                          uint32_t changed) {
  const std::lock_guard lock(mutex_);
  if (closed_) return false;
  if (!change_) change_.emplace().host = host;
  change_->start_type_changed = true;
  change_->original_start_type = original;
  change_->changed_start_type = changed;
  return true;
}

bool TargetChanges::RecordStart(const std::string& host) {
  const std::lock_guard lock(mutex_);
  if (closed_) return false;
  if (!change_) change_.emplace().host = host;
  change_->started = true;
  return true;
}

void TargetChanges::ForgetStartTypeChange() {
  const std::lock_guard lock(mutex_);
  if (change_) change_->start_type_changed = false;
}

void TargetChanges::ForgetStart() {
  const std::lock_guard lock(mutex_);
  if (change_) change_->started = false;
}

Status TargetChanges::Send(const std::function<Status()>& request) {
  {
    const std::lock_guard lock(mutex_);
    ++in_flight_;
  }
  Status answer = request();
  {
    const std::lock_guard lock(mutex_);
    --in_flight_;
  }
  landed_.notify_all();
  return answer;
}

bool TargetChanges::AwaitRequests(std::chrono::steady_clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  return landed_.wait_until(lock, deadline, [this] { return in_flight_ == 0; });
}

void TargetChanges::KeepRestoreServices(std::shared_ptr<ServiceManager> services) {
  const std::lock_guard lock(mutex_);
  if (!restore_services_) restore_services_ = std::move(services);
}

std::shared_ptr<ServiceManager> TargetChanges::RestoreServices() const {
  const std::lock_guard lock(mutex_);
  return restore_services_;
}

bool TargetChanges::closed() const {
  const std::lock_guard lock(mutex_);
  return closed_;
}

std::optional<RegistryServiceChange> TargetChanges::Close() {
  const std::lock_guard lock(mutex_);
  closed_ = true;
  if (restored_ || !change_ || (!change_->started && !change_->start_type_changed)) {
    return std::nullopt;
  }
  return change_;
}

void TargetChanges::MarkRestored() {
  const std::lock_guard lock(mutex_);
  restored_ = true;
}

}  // namespace hostlore
