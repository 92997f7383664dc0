// The WMI seam: connect to a machine's WMI service, run a WQL query, walk the
// instances, read properties by name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "platform/status.h"

namespace hostlore {

// A property's value: null, text, or a number. 64-bit counts arrive as text,
// as WMI delivers them.
struct WmiValue {
  std::variant<std::monostate, std::string, int64_t, double> value;

  bool is_null() const { return std::holds_alternative<std::monostate>(value); }
};

// WBEM_E_NOT_FOUND: the property or class does not exist.
inline constexpr int64_t kWbemNotFound = 0x80041002;

class WmiObject {
 public:
  WmiObject() = default;
  WmiObject(const WmiObject&) = delete;
  WmiObject& operator=(const WmiObject&) = delete;
  virtual ~WmiObject() = default;

  // The value of `property` (case-insensitive): null when the instance holds
  // null. Failure: kWbemNotFound when the instance has no such property.
  virtual Result<WmiValue> Get(std::string_view property) = 0;
};

class WmiObjectSet {
 public:
  WmiObjectSet() = default;
  WmiObjectSet(const WmiObjectSet&) = delete;
  WmiObjectSet& operator=(const WmiObjectSet&) = delete;
  virtual ~WmiObjectSet() = default;

  // The next instance, or nullptr after the last. Failure: the enumeration
  // broke off.
  virtual Result<std::unique_ptr<WmiObject>> Next() = 0;
};

class WmiConnection {
 public:
  WmiConnection() = default;
  WmiConnection(const WmiConnection&) = delete;
  WmiConnection& operator=(const WmiConnection&) = delete;
  virtual ~WmiConnection() = default;

  // Runs a WQL query. Failure: the number and description that the service
  // gave (kObjectNotSet stands for "object not set").
  virtual Result<std::unique_ptr<WmiObjectSet>> ExecQuery(std::string_view wql) = 0;
};

class Wmi {
 public:
  Wmi() = default;
  Wmi(const Wmi&) = delete;
  Wmi& operator=(const Wmi&) = delete;
  virtual ~Wmi() = default;

  // Connects to the default namespace of `host` under the process's identity.
  // Failure: the connection was refused, timed out or not authorised.
  virtual Result<std::unique_ptr<WmiConnection>> Connect(const std::string& host) = 0;
};

}  // namespace hostlore
