// The remote registry reader shared by the collectors: one text value, or the
// subkey names of one key, of a target's registry.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry/registry.h"

namespace hostlore {

struct ScanState;

// `text` up to, not including, its first NUL character (all of it when it
// has none).
std::string TrimNull(std::string_view text);

// The text of a registry value as the reader gives it: REG_SZ up to its
// first NUL; REG_EXPAND_SZ and REG_MULTI_SZ with every NUL turned into a
// blank and the character after it taken unexamined (so "abc" gains one
// trailing blank and the items a, b become "a b " plus a NUL). Empty for any
// other type.
std::string RegistryValueText(const RegistryValue& value);

// Reads `value_name` of `key_path` under `hive` of `host`, opening the key
// with reg::kAllSpecificRights. Returns its text (RegistryValueText), empty
// when the machine, key or value cannot be read or the value is not a string.
// `value_type` receives the type found, 0 when nothing was read. When the
// result is empty and `why_empty` is given, it receives why: the failure of
// the connection, of the key or of the value, or a value that is empty or
// not text. Has no failure handling of its own: an unexpected failure
// propagates.
std::string ReadRegistryText(ScanState& state, const std::string& host, Hive hive,
                             std::string_view key_path, std::string_view value_name,
                             int32_t& value_type, Status* why_empty = nullptr);

// ReadRegistryText with the reader's own failure handling: an unexpected
// failure is logged as "Error listing software", a "Complete" line is sent,
// and the result is empty; the run goes on.
std::string ReadRegValue(ScanState& state, const std::string& host, Hive hive,
                         std::string_view key_path, std::string_view value_name,
                         int32_t& value_type, Status* why_empty = nullptr);

// The type and raw data of `value_name`, read as ReadRegValue reads it and
// with its failure handling, for the values that are not text (REG_DWORD,
// REG_BINARY). Type reg::kNone and no data when nothing was read.
RegistryValue ReadRegRawValue(ScanState& state, const std::string& host, Hive hive,
                              std::string_view key_path, std::string_view value_name);

// A REG_DWORD value as a number; nullopt when it cannot be read or is of
// another type.
std::optional<uint32_t> DwordOf(const RegistryValue& value);

// Appends the name of every direct subkey of `key_path` to `list`, in the
// registry's enumeration order. An unreachable machine or missing key
// appends nothing. Same failure handling as ReadRegValue.
void EnumRegKeys(ScanState& state, const std::string& host, Hive hive, std::string_view key_path,
                 std::vector<std::string>& list);

}  // namespace hostlore
