#include "platform/lab/lab_service_states.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "platform/lab/lab_failures.h"
#include "util/unique_fd.h"

namespace hostlore {
namespace {

const char* StartTypeName(uint32_t start_type) {
  switch (start_type) {
    case 2: return "auto";
    case 3: return "demand";
    case 4: return "disabled";
    default: return "other";
  }
}

}  // namespace

LabServiceStates::State& LabServiceStates::Of(const LabComputer& computer) {
  const std::string name =
      computer.names.empty() ? FormatDottedAddress(computer.address) : computer.names.front();
  auto found = states_.find(name);
  if (found == states_.end()) {
    State state{computer.remote_registry.value_or(LabRegistryService{}), name};
    found = states_.emplace(name, std::move(state)).first;
  }
  return found->second;
}

void LabServiceStates::Journal(const State& state, const std::string& what) {
  if (journal_.empty()) return;
  const std::string line = state.name + " " + kLabRegistryService + " " + what + "\n";
  const UniqueFd file(::open(journal_.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644));
  if (!file.valid()) return;
  ssize_t written;
  do {
    written = ::write(file.get(), line.data(), line.size());
  } while (written < 0 && errno == EINTR);
}

Status LabServiceStates::ReachRegistry(const LabComputer& computer) {
  if (!computer.remote_registry) return Status::Ok();
  const std::lock_guard lock(mutex_);
  State& state = Of(computer);
  if (state.service.running) return Status::Ok();
  if (!state.service.trigger) return Win32Failure(win32::kBadNetPath);
  state.service.running = true;
  Journal(state, "started");
  return Win32Failure(win32::kPipeBusy);
}

bool LabServiceStates::Running(const LabComputer& computer) {
  const std::lock_guard lock(mutex_);
  return Of(computer).service.running;
}

uint32_t LabServiceStates::StartType(const LabComputer& computer) {
  const std::lock_guard lock(mutex_);
  return Of(computer).service.start_type;
}

Status LabServiceStates::ChangeStartType(const LabComputer& computer, uint32_t start_type) {
  if (start_type < 2 || start_type > 4) return Win32Failure(win32::kInvalidParameter);
  const std::lock_guard lock(mutex_);
  State& state = Of(computer);
  if (state.service.start_type == start_type) return Status::Ok();
  state.service.start_type = start_type;
  Journal(state, std::string("start-type=") + StartTypeName(start_type));
  return Status::Ok();
}

Status LabServiceStates::Start(const LabComputer& computer) {
  const std::lock_guard lock(mutex_);
  State& state = Of(computer);
  if (state.service.running) return Win32Failure(win32::kServiceAlreadyRunning);
  if (state.service.start_type == 4) return Win32Failure(win32::kServiceDisabled);
  if (state.service.start_error != 0) return Win32Failure(state.service.start_error);
  state.service.running = true;
  Journal(state, "started");
  return Status::Ok();
}

Status LabServiceStates::Stop(const LabComputer& computer) {
  const std::lock_guard lock(mutex_);
  State& state = Of(computer);
  if (!state.service.running) return Win32Failure(win32::kServiceNotActive);
  state.service.running = false;
  Journal(state, "stopped");
  return Status::Ok();
}

}  // namespace hostlore
