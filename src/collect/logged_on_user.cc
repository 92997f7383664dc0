#include "collect/logged_on_user.h"

#include <functional>

#include "collect/reg_reader.h"
#include "scan/scan_state.h"
#include "scan/stage_failure.h"

namespace hostlore {
namespace {

constexpr const char* kWinlogonKey = "Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon";

// Refills UserHiveNames from index 0 with the subkey names of HKEY_USERS;
// returns how many were stored. Names past the last index are a failure of
// the lookup.
size_t ListUserHives(ScanState& state, const std::string& machine) {
  Result<std::unique_ptr<RegistryKey>> users = state.platform.registry->Connect(machine, Hive::kUsers);
  if (!users.ok()) return 0;
  size_t count = 0;
  for (uint32_t index = 0;; ++index) {
    Result<std::string> name = users.value()->EnumKey(index);
    if (!name.ok() && name.status().number() == win32::kNoMoreItems) break;
    if (index >= state.UserHiveNames.size()) {
      throw StageFailure("HKEY_USERS has more than " + std::to_string(state.UserHiveNames.size()) +
                         " subkeys");
    }
    // Any other answer stores what it returned, an empty name for a failure.
    state.UserHiveNames[index] = name.ok() ? name.value() : std::string();
    count = index + 1;
  }
  return count;
}

std::string WinlogonUser(ScanState& state, const std::string& machine) {
  const std::string domain = ReadRegUserValue(state, machine, Hive::kLocalMachine, kWinlogonKey,
                                              "DefaultDomainName", state.RegValueType);
  const std::string user = ReadRegUserValue(state, machine, Hive::kLocalMachine, kWinlogonKey,
                                            "DefaultUserName", state.RegValueType);
  return domain + "\\" + user;
}

std::string LookUp(ScanState& state, const std::string& machine,
                   const std::function<bool(const std::string&)>& qualifies) {
  const size_t count = ListUserHives(state, machine);
  std::string result;
  for (size_t i = 0; i < count; ++i) {
    if (!qualifies(state.UserHiveNames[i])) continue;
    state.LoggedOnUser = WinlogonUser(state, machine);
    result = state.LoggedOnUser;
  }
  return result;
}

}  // namespace

void GetUser(ScanState& state) {
  const std::string version =
      ReadRegValue(state, state.TargetAddress, Hive::kLocalMachine,
                   "Software\\Microsoft\\Windows NT\\CurrentVersion", "CurrentVersion",
                   state.RegValueType);
  if (version == "4.0") {
    GetProfileUser(state, state.TargetAddress);
  } else {
    GetLogonUser(state, state.TargetAddress);
  }
}

std::string GetLogonUser(ScanState& state, const std::string& machine) {
  return LookUp(state, machine, [](const std::string& name) { return name.ends_with("_Classes"); });
}

std::string GetProfileUser(ScanState& state, const std::string& machine) {
  return LookUp(state, machine,
                [](const std::string& name) { return !name.starts_with("DEFAULT"); });
}

std::string ReadRegUserValue(ScanState& state, const std::string& machine, Hive hive,
                             std::string_view key_path, std::string_view value_name,
                             int32_t& value_type) {
  return ReadRegistryText(state, machine, hive, key_path, value_name, value_type);
}

}  // namespace hostlore
