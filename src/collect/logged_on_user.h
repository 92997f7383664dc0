// Who works at the target, read from its registry.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/registry/registry.h"

namespace hostlore {

struct ScanState;

// Settles LoggedOnUser by the target's Windows version: GetProfileUser on
// Windows NT 4.0 ("CurrentVersion" exactly "4.0"), GetLogonUser otherwise.
void GetUser(ScanState& state);

// For every HKEY_USERS subkey of `machine` whose name ends in "_Classes"
// (letter case counts), LoggedOnUser = DefaultDomainName + "\" +
// DefaultUserName of the Winlogon key. Returns the user found, empty (and
// LoggedOnUser untouched) when no name qualifies.
std::string GetLogonUser(ScanState& state, const std::string& machine);

// As GetLogonUser, for every subkey whose name does not begin with
// "DEFAULT" (so ".DEFAULT" qualifies).
std::string GetProfileUser(ScanState& state, const std::string& machine);

// Reads a value as the registry reader does, without its failure handling.
std::string ReadRegUserValue(ScanState& state, const std::string& machine, Hive hive,
                             std::string_view key_path, std::string_view value_name,
                             int32_t& value_type);

}  // namespace hostlore
