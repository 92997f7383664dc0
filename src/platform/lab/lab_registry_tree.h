// The registry of a lab computer: two hives of keys, each key with its values
// and its subkeys in enumeration order.
#pragma once

#include <nlohmann/json_fwd.hpp>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/registry/registry.h"
#include "platform/status.h"

namespace hostlore {

struct LabKey {
  std::string name;  // as first spelled in the file
  std::vector<std::pair<std::string, RegistryValue>> values;
  std::vector<LabKey> subkeys;  // in order of first appearance in the file

  // Direct subkey / value by name, without regard to case; nullptr if none.
  const LabKey* FindSubkey(std::string_view subkey_name) const;
  const RegistryValue* FindValue(std::string_view value_name) const;
};

struct LabRegistry {
  LabRegistry() = default;
  LabRegistry(const LabRegistry&) = default;
  LabRegistry(LabRegistry&&) = default;
  LabRegistry& operator=(const LabRegistry&) = default;
  LabRegistry& operator=(LabRegistry&&) = default;
  // Takes the key trees apart one key at a time: a destruction that recursed
  // into every subkey would need stack for every level.
  ~LabRegistry();

  LabKey local_machine;
  LabKey users;

  // The root key of `hive`; nullptr for a hive the lab does not hold.
  const LabKey* Root(Hive hive) const;
};

// The key at `path` below `key`: '\'-separated names, matched without regard
// to case; empty text is `key` itself. nullptr when a key on the way is
// missing or the path has an empty name (a leading, trailing or doubled '\').
const LabKey* FindKeyPath(const LabKey& key, std::string_view path);

// The registry's own limit on the depth of a key path.
inline constexpr size_t kMaxKeyDepth = 512;

// Fills `registry` from the object of the "registry" field: "HIVE\path" to an
// object of values. Failure: a malformed key path (more than kMaxKeyDepth
// names below the hive included), hive or value; the description names it.
Status ParseLabRegistry(const nlohmann::ordered_json& section, LabRegistry& registry);

}  // namespace hostlore
