#include "platform/lab/lab_computer.h"

#include <algorithm>
#include <array>
#include <limits>
#include <nlohmann/json.hpp>
#include <thread>

namespace hostlore {
namespace {

using Json = nlohmann::ordered_json;

constexpr std::array<std::string_view, 9> kFields = {"names",      "address",  "echo",
                                                     "latency_ms", "registry", "wmi",
                                                     "services",   "shares",   "remote_registry"};

Status Malformed(const std::string& what) {
  return Status::Failure(win32::kInvalidParameter, what);
}

bool IsUint32(const Json& json) {
  return json.is_number_unsigned() && json.get<uint64_t>() <= std::numeric_limits<uint32_t>::max();
}

// true for an absent field and for false: the service is not offered.
bool IsAbsent(const Json& root, const char* field) {
  const auto it = root.find(field);
  return it == root.end() || (it->is_boolean() && !it->get<bool>());
}

// True when `json` is an object whose keys are exactly `keys`.
bool HasExactly(const Json& json, std::initializer_list<const char*> keys) {
  if (!json.is_object() || json.size() != keys.size()) return false;
  for (const char* key : keys) {
    if (!json.contains(key)) return false;
  }
  return true;
}

template <typename T>
Status AddNamed(NamedList<T>& list, const std::string& name, T thing, const std::string& where) {
  if (FindIgnoreCase(list, name) != nullptr) {
    return Malformed(where + " \"" + name + "\" is listed twice");
  }
  list.emplace_back(name, std::move(thing));
  return Status::Ok();
}

Status ParseNames(const Json& json, LabComputer& computer) {
  if (!json.is_array()) return Malformed("\"names\" must be a list of names");
  for (const Json& name : json) {
    if (!name.is_string() || name.get<std::string>().empty()) {
      return Malformed("\"names\" must be a list of non-empty names");
    }
    computer.names.push_back(name.get<std::string>());
  }
  return Status::Ok();
}

Status ParseEcho(const Json& json, LabComputer& computer) {
  if (json == "reply") {
    computer.echo_status = 0;
  } else if (json == "timeout") {
    computer.echo_status = std::nullopt;
  } else if (IsUint32(json)) {
    computer.echo_status = json.get<uint32_t>();
  } else {
    return Malformed("\"echo\" must be \"reply\", \"timeout\" or an ICMP status number");
  }
  return Status::Ok();
}

Status ParseServices(const Json& json, LabComputer& computer) {
  LabServices services;
  if (HasExactly(json, {"error"})) {
    if (!IsUint32(json["error"]) || json["error"].get<uint32_t>() == 0) {
      return Malformed("\"services\" error must be a non-zero system error code");
    }
    services.error = json["error"].get<uint32_t>();
  } else if (json.is_array()) {
    for (const Json& name : json) {
      if (!name.is_string()) return Malformed("\"services\" must list display names as strings");
      services.display_names.push_back(name.get<std::string>());
    }
  } else {
    return Malformed("\"services\" must be false, a list of display names or {\"error\": code}");
  }
  computer.services = std::move(services);
  return Status::Ok();
}

Status ParseRemoteRegistry(const Json& json, LabComputer& computer) {
  const auto bad = [] {
    return Malformed(
        "\"remote_registry\" must be {\"start\": \"auto\"|\"demand\"|\"disabled\", "
        "\"state\": \"running\"|\"stopped\", \"trigger\": true|false, "
        "\"start_error\": code}, every member optional");
  };
  if (!json.is_object()) return bad();
  LabRegistryService service;
  for (const auto& [key, value] : json.items()) {
    if (key == "start" && value == "auto") {
      service.start_type = 2;
    } else if (key == "start" && value == "demand") {
      service.start_type = 3;
    } else if (key == "start" && value == "disabled") {
      service.start_type = 4;
    } else if (key == "state" && (value == "running" || value == "stopped")) {
      service.running = value == "running";
    } else if (key == "trigger" && value.is_boolean()) {
      service.trigger = value.get<bool>();
    } else if (key == "start_error" && IsUint32(value)) {
      service.start_error = value.get<uint32_t>();
    } else {
      return bad();
    }
  }
  computer.remote_registry = service;
  return Status::Ok();
}

Status ParseShares(const Json& json, LabComputer& computer) {
  if (!json.is_object()) return Malformed("\"shares\" must be an object of shares");
  for (const auto& [name, counts] : json.items()) {
    if (!HasExactly(counts, {"total", "free"}) || !counts["total"].is_number_unsigned() ||
        !counts["free"].is_number_unsigned()) {
      return Malformed("share \"" + name + "\" must be {\"total\": bytes, \"free\": bytes}");
    }
    const LabShare share{counts["total"].get<uint64_t>(), counts["free"].get<uint64_t>()};
    Status added = AddNamed(computer.shares, name, share, "share");
    if (!added.ok()) return added;
  }
  return Status::Ok();
}

// Text stays text (WMI delivers 64-bit counts that way), whole numbers become
// int64, other numbers double.
bool ToWmiValue(const Json& json, WmiValue& value) {
  const bool fits_int64 =
      json.is_number_integer() &&
      (!json.is_number_unsigned() ||
       json.get<uint64_t>() <= static_cast<uint64_t>(std::numeric_limits<int64_t>::max()));
  if (json.is_null()) {
    value.value = std::monostate{};
  } else if (json.is_string()) {
    value.value = json.get<std::string>();
  } else if (fits_int64) {
    value.value = json.get<int64_t>();
  } else if (json.is_number()) {
    value.value = json.get<double>();
  } else {
    return false;
  }
  return true;
}

Result<LabWmiClass> ParseWmiClass(const std::string& name, const Json& json) {
  LabWmiClass wmi_class;
  if (HasExactly(json, {"error", "number"})) {
    if (!json["error"].is_string() || !json["number"].is_number_integer()) {
      return Malformed("WMI class \"" + name + "\" error must be {\"error\": text, \"number\": n}");
    }
    wmi_class.failure = Status::Failure(json["number"].get<int64_t>(), json["error"].get<std::string>());
    return wmi_class;
  }
  if (!json.is_array()) {
    return Malformed("WMI class \"" + name + "\" must be a list of instances or an error");
  }
  for (const Json& instance_json : json) {
    if (!instance_json.is_object()) {
      return Malformed("WMI class \"" + name + "\" instances must be objects");
    }
    LabWmiInstance instance;
    for (const auto& [property, value_json] : instance_json.items()) {
      WmiValue value;
      if (!ToWmiValue(value_json, value)) {
        return Malformed("WMI property \"" + name + "." + property +
                         "\" must be a string, a number or null");
      }
      Status added = AddNamed(instance.properties, property, std::move(value), "WMI property");
      if (!added.ok()) return added;
    }
    wmi_class.instances.push_back(std::move(instance));
  }
  return wmi_class;
}

Status ParseWmi(const Json& json, LabComputer& computer) {
  if (!json.is_object()) return Malformed("\"wmi\" must be false or an object of classes");
  NamedList<LabWmiClass> classes;
  for (const auto& [name, class_json] : json.items()) {
    Result<LabWmiClass> wmi_class = ParseWmiClass(name, class_json);
    if (!wmi_class.ok()) return wmi_class.status();
    Status added = AddNamed(classes, name, std::move(wmi_class).value(), "WMI class");
    if (!added.ok()) return added;
  }
  computer.wmi = std::move(classes);
  return Status::Ok();
}

Status ParseComputer(const Json& root, LabComputer& computer) {
  if (!root.is_object()) return Malformed("the file must hold one JSON object");
  for (const auto& [field, value] : root.items()) {
    if (std::find(kFields.begin(), kFields.end(), field) == kFields.end()) {
      return Malformed("unknown field \"" + field + "\"");
    }
  }
  if (!root.contains("address") || !root["address"].is_string()) {
    return Malformed("\"address\" (dotted IPv4 text) is missing");
  }
  const std::optional<Ipv4Address> address = ParseDottedAddress(root["address"].get<std::string>());
  if (!address) return Malformed("\"address\" must be a dotted IPv4 address");
  computer.address = *address;

  Status status;
  if (root.contains("names")) status = ParseNames(root["names"], computer);
  if (status.ok() && root.contains("echo")) status = ParseEcho(root["echo"], computer);
  if (status.ok() && root.contains("latency_ms")) {
    if (!IsUint32(root["latency_ms"])) return Malformed("\"latency_ms\" must be a whole number");
    computer.latency = std::chrono::milliseconds(root["latency_ms"].get<uint32_t>());
  }
  if (status.ok() && !IsAbsent(root, "registry")) {
    computer.registry.emplace();
    status = ParseLabRegistry(root["registry"], *computer.registry);
  }
  if (status.ok() && !IsAbsent(root, "services")) status = ParseServices(root["services"], computer);
  if (status.ok() && !IsAbsent(root, "shares")) status = ParseShares(root["shares"], computer);
  if (status.ok() && !IsAbsent(root, "wmi")) status = ParseWmi(root["wmi"], computer);
  if (status.ok() && root.contains("remote_registry")) {
    status = ParseRemoteRegistry(root["remote_registry"], computer);
  }
  return status;
}

// No lab file needs more (a WMI property or a registry value's data sits
// five levels deep); deeper input would cost the parser and its users stack
// in proportion.
constexpr int kMaxNesting = 32;

// Whether arrays and objects nest deeper than kMaxNesting anywhere in
// `text` (brackets inside strings do not count).
bool NestsTooDeep(std::string_view text) {
  int depth = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') ++i;
      else if (c == '"') in_string = false;
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxNesting) return true;
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return false;
}

}  // namespace

Result<LabComputer> ParseLabComputer(std::string_view json_text) {
  if (NestsTooDeep(json_text)) {
    return Malformed("arrays and objects nest more than " + std::to_string(kMaxNesting) +
                     " levels deep, which no lab file needs");
  }
  try {
    const Json root = Json::parse(json_text);
    LabComputer computer;
    Status status = ParseComputer(root, computer);
    if (!status.ok()) return status;
    return computer;
  } catch (const Json::exception& failure) {
    // Parse errors; the checks above keep type errors from happening.
    return Malformed(failure.what());
  }
}

std::optional<Ipv4Address> ParseDottedAddress(std::string_view text) {
  Ipv4Address address{};
  size_t part = 0;
  size_t i = 0;
  while (part < address.size()) {
    const size_t start = i;
    unsigned value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && i - start < 3) {
      value = value * 10 + static_cast<unsigned>(text[i] - '0');
      ++i;
    }
    const size_t digits = i - start;
    if (digits == 0 || value > 255 || (digits > 1 && text[start] == '0')) return std::nullopt;
    address[part++] = static_cast<uint8_t>(value);
    if (part < address.size()) {
      if (i >= text.size() || text[i] != '.') return std::nullopt;
      ++i;
    }
  }
  if (i != text.size()) return std::nullopt;
  return address;
}

void SpendLatency(const LabComputer& computer) {
  if (computer.latency.count() > 0) std::this_thread::sleep_for(computer.latency);
}

}  // namespace hostlore
