// One simulated computer of the lab, as read from its JSON file. The model is
// immutable once parsed, so any number of threads may read it at once.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/echo/echo.h"
#include "platform/lab/lab_registry_tree.h"
#include "platform/status.h"
#include "platform/wmi/wmi.h"
#include "util/text.h"

namespace hostlore {

// Name-to-thing pairs in the order of the file, looked up without regard to
// case. Parsing refuses two names that differ only in case.
template <typename T>
using NamedList = std::vector<std::pair<std::string, T>>;

template <typename T>
const T* FindIgnoreCase(const NamedList<T>& list, std::string_view name) {
  for (const auto& [key, value] : list) {
    if (EqualsIgnoreCase(key, name)) return &value;
  }
  return nullptr;
}

struct LabServices {
  // Non-zero: the size query ends with this system error code and the
  // listing fails with it; the display names are then unused.
  uint32_t error = 0;
  std::vector<std::string> display_names;
};

struct LabShare {
  uint64_t total = 0;
  uint64_t free = 0;
};

// The RemoteRegistry service as the computer's service control manager
// first shows it; changes an agent makes live in LabServiceStates.
struct LabRegistryService {
  uint32_t start_type = 2;  // svc::kAutoStart
  bool running = true;
  // Reaching the registry while the service is stopped starts it, and that
  // first attempt fails as "pipe not available".
  bool trigger = false;
  // Non-zero: the system error code a start request returns.
  uint32_t start_error = 0;
};

struct LabWmiInstance {
  NamedList<WmiValue> properties;
};

struct LabWmiClass {
  // Set when a query of this class fails; the instances are then unused.
  std::optional<Status> failure;
  std::vector<LabWmiInstance> instances;
};

struct LabComputer {
  std::vector<std::string> names;
  Ipv4Address address{};
  // The ICMP status of the echo reply; nullopt: no reply at all.
  std::optional<uint32_t> echo_status = 0;
  // What every remote call (registry, services, share space, WMI) costs.
  std::chrono::milliseconds latency{0};
  // nullopt: that service cannot be reached on this computer.
  std::optional<LabRegistry> registry;
  std::optional<LabServices> services;
  // nullopt: the service runs, as it always did in the lab.
  std::optional<LabRegistryService> remote_registry;
  NamedList<LabShare> shares;
  std::optional<NamedList<LabWmiClass>> wmi;
};

// Parses the text of one lab file. Failure: the text is not JSON or does not
// follow the lab format; the description says where (but not which file).
Result<LabComputer> ParseLabComputer(std::string_view json_text);

// Parses "a.b.c.d" (four decimal bytes); nullopt for anything else.
std::optional<Ipv4Address> ParseDottedAddress(std::string_view text);

// Blocks for the computer's latency: called once by every remote call.
void SpendLatency(const LabComputer& computer);

}  // namespace hostlore
