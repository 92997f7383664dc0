#include "platform/lab/lab_registry_tree.h"

#include <nlohmann/json.hpp>

#include "util/text.h"
#include "util/utf16.h"

namespace hostlore {
namespace {

using Json = nlohmann::ordered_json;

constexpr char kSeparator = '\\';

Status Malformed(const std::string& key, const std::string& what) {
  return Status::Failure(win32::kInvalidParameter, "registry key \"" + key + "\": " + what);
}

// The names of a '\'-separated path; false when one of them is empty.
bool SplitPath(std::string_view path, std::vector<std::string_view>& names) {
  names.clear();
  if (path.empty()) return true;
  size_t start = 0;
  while (true) {
    const size_t end = path.find(kSeparator, start);
    const std::string_view name = path.substr(start, end - start);
    if (name.empty()) return false;
    names.push_back(name);
    if (end == std::string_view::npos) return true;
    start = end + 1;
  }
}

// UTF-16LE text with its terminating NUL, as the registry stores strings.
std::string TerminatedUtf16(std::string_view text) {
  return Utf8ToUtf16LeBytes(text) + std::string(2, '\0');
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHex(std::string_view hex, std::string& bytes) {
  if (hex.size() % 2 != 0) return false;
  for (size_t i = 0; i < hex.size(); i += 2) {
    const int high = HexDigit(hex[i]);
    const int low = HexDigit(hex[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes += static_cast<char>(high * 16 + low);
  }
  return true;
}

// A value of the file: a string (REG_SZ) or {"type": ..., "data": ...}.
// Failure: the description says what is wrong, without naming key or value.
Result<RegistryValue> ParseValue(const Json& json) {
  auto bad = [](const std::string& what) { return Status::Failure(win32::kInvalidParameter, what); };
  if (json.is_string()) return RegistryValue{reg::kSz, TerminatedUtf16(json.get<std::string>())};
  if (!json.is_object() || json.size() != 2 || !json.contains("type") || !json.contains("data") ||
      !json["type"].is_string()) {
    return bad("must be a string or an object with exactly \"type\" and \"data\"");
  }
  const std::string type = json["type"].get<std::string>();
  const Json& data = json["data"];
  if (EqualsIgnoreCase(type, "REG_SZ") || EqualsIgnoreCase(type, "REG_EXPAND_SZ")) {
    if (!data.is_string()) return bad(type + " data must be a string");
    return RegistryValue{EqualsIgnoreCase(type, "REG_SZ") ? reg::kSz : reg::kExpandSz,
                         TerminatedUtf16(data.get<std::string>())};
  }
  if (EqualsIgnoreCase(type, "REG_MULTI_SZ")) {
    if (!data.is_array()) return bad("REG_MULTI_SZ data must be a list of strings");
    RegistryValue value{reg::kMultiSz, {}};
    for (const Json& item : data) {
      if (!item.is_string()) return bad("REG_MULTI_SZ data must be a list of strings");
      value.data += TerminatedUtf16(item.get<std::string>());
    }
    value.data += std::string(2, '\0');  // the list's own terminating NUL
    return value;
  }
  if (EqualsIgnoreCase(type, "REG_DWORD")) {
    if (!data.is_number_unsigned() || data.get<uint64_t>() > 0xFFFFFFFFu) {
      return bad("REG_DWORD data must be a whole number from 0 to 4294967295");
    }
    const auto number = static_cast<uint32_t>(data.get<uint64_t>());
    std::string bytes;
    for (int shift = 0; shift < 32; shift += 8) bytes += static_cast<char>((number >> shift) & 0xFF);
    return RegistryValue{reg::kDword, bytes};
  }
  if (EqualsIgnoreCase(type, "REG_BINARY")) {
    std::string bytes;
    if (!data.is_string() || !ParseHex(data.get<std::string>(), bytes)) {
      return bad("REG_BINARY data must be hex text, two digits per byte");
    }
    return RegistryValue{reg::kBinary, bytes};
  }
  return bad("unknown type \"" + type + "\"");
}

LabKey* HiveRoot(LabRegistry& registry, std::string_view hive) {
  if (EqualsIgnoreCase(hive, "HKLM") || EqualsIgnoreCase(hive, "HKEY_LOCAL_MACHINE")) {
    return &registry.local_machine;
  }
  if (EqualsIgnoreCase(hive, "HKU") || EqualsIgnoreCase(hive, "HKEY_USERS")) {
    return &registry.users;
  }
  return nullptr;
}

// The subkey `name` of `parent`, added at the end of its subkeys if new.
LabKey& SubkeyFor(LabKey& parent, std::string_view name) {
  for (LabKey& subkey : parent.subkeys) {
    if (EqualsIgnoreCase(subkey.name, name)) return subkey;
  }
  parent.subkeys.push_back(LabKey{std::string(name), {}, {}});
  return parent.subkeys.back();
}

Status AddKey(const std::string& path, const Json& values, LabRegistry& registry) {
  std::vector<std::string_view> names;
  if (!SplitPath(path, names)) return Malformed(path, "empty name in the key path");
  if (names.empty()) return Malformed(path, "no hive");
  if (names.size() - 1 > kMaxKeyDepth) {
    return Malformed(std::string(FirstCharacters(path, 64)) + "...",
                     std::to_string(names.size() - 1) + " levels deep; the registry allows at most " +
                         std::to_string(kMaxKeyDepth));
  }
  LabKey* key = HiveRoot(registry, names.front());
  if (key == nullptr) return Malformed(path, "the hive must be HKLM or HKU");
  for (size_t i = 1; i < names.size(); ++i) key = &SubkeyFor(*key, names[i]);

  if (!values.is_object()) return Malformed(path, "must map to an object of values");
  for (const auto& [name, json] : values.items()) {
    if (key->FindValue(name) != nullptr) {
      return Malformed(path, "value \"" + name + "\" is listed twice");
    }
    Result<RegistryValue> value = ParseValue(json);
    if (!value.ok()) {
      return Malformed(path, "value \"" + name + "\": " + value.status().description());
    }
    key->values.emplace_back(name, std::move(value).value());
  }
  return Status::Ok();
}

}  // namespace

const LabKey* LabKey::FindSubkey(std::string_view subkey_name) const {
  for (const LabKey& subkey : subkeys) {
    if (EqualsIgnoreCase(subkey.name, subkey_name)) return &subkey;
  }
  return nullptr;
}

const RegistryValue* LabKey::FindValue(std::string_view value_name) const {
  for (const auto& [name, value] : values) {
    if (EqualsIgnoreCase(name, value_name)) return &value;
  }
  return nullptr;
}

LabRegistry::~LabRegistry() {
  std::vector<LabKey> pending;
  for (LabKey* root : {&local_machine, &users}) {
    for (LabKey& subkey : root->subkeys) pending.push_back(std::move(subkey));
    root->subkeys.clear();
  }
  while (!pending.empty()) {
    LabKey key = std::move(pending.back());
    pending.pop_back();
    for (LabKey& subkey : key.subkeys) pending.push_back(std::move(subkey));
    key.subkeys.clear();  // moved-from shells, without subkeys of their own
  }
}

const LabKey* LabRegistry::Root(Hive hive) const {
  switch (hive) {
    case Hive::kLocalMachine:
      return &local_machine;
    case Hive::kUsers:
      return &users;
  }
  return nullptr;
}

const LabKey* FindKeyPath(const LabKey& key, std::string_view path) {
  std::vector<std::string_view> names;
  if (!SplitPath(path, names)) return nullptr;
  const LabKey* found = &key;
  for (const std::string_view name : names) {
    found = found->FindSubkey(name);
    if (found == nullptr) return nullptr;
  }
  return found;
}

Status ParseLabRegistry(const nlohmann::ordered_json& section, LabRegistry& registry) {
  registry.local_machine.name = "HKEY_LOCAL_MACHINE";
  registry.users.name = "HKEY_USERS";
  if (!section.is_object()) {
    return Status::Failure(win32::kInvalidParameter,
                           "\"registry\" must be false or an object of keys");
  }
  for (const auto& [path, values] : section.items()) {
    Status added = AddKey(path, values, registry);
    if (!added.ok()) return added;
  }
  return Status::Ok();
}

}  // namespace hostlore
