// The remote registry seam, shaped like the Win32 remote registry calls:
// connect to a hive of a machine, open keys below it, query values, enumerate
// subkeys by index. Closing is destruction.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace hostlore {

enum class Hive : uint32_t {
  kLocalMachine = 0x80000002,  // HKEY_LOCAL_MACHINE
  kUsers = 0x80000003,         // HKEY_USERS
};

// Registry value types.
namespace reg {
inline constexpr uint32_t kNone = 0;
inline constexpr uint32_t kSz = 1;
inline constexpr uint32_t kExpandSz = 2;
inline constexpr uint32_t kBinary = 3;
inline constexpr uint32_t kDword = 4;
inline constexpr uint32_t kMultiSz = 7;

// KEY_QUERY_VALUE | KEY_SET_VALUE | KEY_CREATE_SUB_KEY |
// KEY_ENUMERATE_SUB_KEYS | KEY_NOTIFY | KEY_CREATE_LINK.
inline constexpr uint32_t kAllSpecificRights = 0x3F;
inline constexpr uint32_t kEnumerateSubKeys = 0x08;
}  // namespace reg

struct RegistryValue {
  uint32_t type = reg::kNone;
  // The raw data as the registry stores it. String types are UTF-16LE
  // including their terminating NULs (REG_MULTI_SZ ends in two); REG_DWORD
  // is 4 bytes little-endian; REG_BINARY is the bytes themselves.
  std::string data;
};

class RegistryKey {
 public:
  RegistryKey() = default;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  virtual ~RegistryKey() = default;

  // Opens `subkey` (a path of '\'-separated names, case-insensitive; empty
  // opens this key again) with the access mask `access`.
  // Failure: win32::kFileNotFound when it does not exist,
  // win32::kAccessDenied when the mask is not granted.
  virtual Result<std::unique_ptr<RegistryKey>> OpenKey(std::string_view subkey,
                                                       uint32_t access) = 0;

  // The type and raw data of value `name` (case-insensitive; empty names the
  // default value). Failure: win32::kFileNotFound when there is no such value.
  virtual Result<RegistryValue> QueryValue(std::string_view name) = 0;

  // The name of direct subkey number `index`, in the registry's enumeration
  // order. Failure: win32::kNoMoreItems past the last subkey.
  virtual Result<std::string> EnumKey(uint32_t index) = 0;
};

class RemoteRegistry {
 public:
  RemoteRegistry() = default;
  RemoteRegistry(const RemoteRegistry&) = delete;
  RemoteRegistry& operator=(const RemoteRegistry&) = delete;
  virtual ~RemoteRegistry() = default;

  // Connects to `hive` of the machine `host` (a dotted address or a name).
  // Failure: win32::kBadNetPath or win32::kRpcServerUnavailable when the
  // machine's registry cannot be reached, win32::kAccessDenied when refused.
  virtual Result<std::unique_ptr<RegistryKey>> Connect(const std::string& host,
                                                       Hive hive) = 0;

  // Whether the connection to `host` was lost during the run: a failure
  // (saying how) once the machine stopped answering after it had answered,
  // success otherwise. Reads after the loss gave empty values that say
  // nothing about the machine.
  virtual Status ConnectionLost(const std::string& /*host*/) { return Status::Ok(); }
};

}  // namespace hostlore
