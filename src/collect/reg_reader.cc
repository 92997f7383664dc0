#include "collect/reg_reader.h"

#include <exception>

#include "diag/log_error.h"
#include "diag/report_progress.h"
#include "scan/scan_state.h"
#include "util/text.h"
#include "util/utf16.h"

namespace hostlore {
namespace {

// Subkey names are enumerated into a buffer of this many characters,
// terminating NUL included; a longer name ends the enumeration.
constexpr size_t kSubkeyNameBuffer = 256;

void ReaderFailure(ScanState& state, const std::exception& failure) {
  ++state.RegistryReaderFailures;
  LogError(state, "Error listing software", state.TargetName + ":" + failure.what());
  ReportFailureComplete(state);
}

std::string KeyName(Hive hive, std::string_view key_path) {
  return (hive == Hive::kUsers ? "HKU\\" : "HKLM\\") + std::string(key_path);
}

// The key, or nullptr with `why_not` (when given) saying why.
std::unique_ptr<RegistryKey> OpenRemoteKey(ScanState& state, const std::string& host, Hive hive,
                                           std::string_view key_path, uint32_t access,
                                           Status* why_not = nullptr) {
  Result<std::unique_ptr<RegistryKey>> root = state.platform.registry->Connect(host, hive);
  if (!root.ok()) {
    if (why_not != nullptr) *why_not = root.status();
    return nullptr;
  }
  Result<std::unique_ptr<RegistryKey>> key = root.value()->OpenKey(key_path, access);
  if (!key.ok()) {
    if (why_not != nullptr) {
      const std::string name = KeyName(hive, key_path);
      // Rights beyond reading are what an account without administrative
      // rights on the target is refused.
      *why_not = Status::Failure(
          key.status().number(),
          key.status().number() == win32::kAccessDenied && access != reg::kEnumerateSubKeys
              ? name + ": access to more than reading is denied: the account is not an "
                       "administrator of the target"
              : name + ": " + key.status().description());
    }
    return nullptr;
  }
  return std::move(key).value();
}

}  // namespace

std::string TrimNull(std::string_view text) {
  return std::string(text.substr(0, text.find('\0')));
}

std::string RegistryValueText(const RegistryValue& value) {
  const std::u16string units = Utf16LeBytesToUnits(value.data);
  switch (value.type) {
    case reg::kSz:
      return TrimNull(Utf16ToUtf8(units));
    case reg::kExpandSz:
    case reg::kMultiSz: {
      std::u16string walked;
      walked.reserve(units.size());
      for (size_t i = 0; i < units.size(); ++i) {
        if (units[i] != u'\0') {
          walked += units[i];
        } else {
          walked += u' ';
          if (i + 1 < units.size()) walked += units[++i];
        }
      }
      return Utf16ToUtf8(walked);
    }
    default:
      return {};
  }
}

std::string ReadRegistryText(ScanState& state, const std::string& host, Hive hive,
                             std::string_view key_path, std::string_view value_name,
                             int32_t& value_type, Status* why_empty) {
  RegistryValue value;
  Status failure;
  if (auto key = OpenRemoteKey(state, host, hive, key_path, reg::kAllSpecificRights, &failure)) {
    Result<RegistryValue> found = key->QueryValue(value_name);
    if (found.ok()) {
      value = std::move(found).value();
    } else {
      failure = Status::Failure(found.status().number(),
                                KeyName(hive, key_path) + " value " + std::string(value_name) +
                                    ": " + found.status().description());
    }
  }
  value_type = static_cast<int32_t>(value.type);
  std::string text = RegistryValueText(value);
  if (why_empty != nullptr && text.empty()) {
    if (failure.ok()) {
      failure = Status::Failure(
          win32::kFileNotFound,
          KeyName(hive, key_path) + " value " + std::string(value_name) +
              (value.type == reg::kSz || value.type == reg::kExpandSz || value.type == reg::kMultiSz
                   ? " is empty"
                   : " is not text (type " + std::to_string(value.type) + ")"));
    }
    *why_empty = std::move(failure);
  }
  return text;
}

RegistryValue ReadRegRawValue(ScanState& state, const std::string& host, Hive hive,
                              std::string_view key_path, std::string_view value_name) {
  try {
    if (auto key = OpenRemoteKey(state, host, hive, key_path, reg::kAllSpecificRights)) {
      Result<RegistryValue> found = key->QueryValue(value_name);
      if (found.ok()) return std::move(found).value();
    }
  } catch (const std::exception& failure) {
    ReaderFailure(state, failure);
  }
  return {};
}

std::optional<uint32_t> DwordOf(const RegistryValue& value) {
  if (value.type != reg::kDword || value.data.size() != 4) return std::nullopt;
  uint32_t number = 0;
  for (size_t i = 4; i-- > 0;) number = number << 8 | static_cast<uint8_t>(value.data[i]);
  return number;
}

std::string ReadRegValue(ScanState& state, const std::string& host, Hive hive,
                         std::string_view key_path, std::string_view value_name,
                         int32_t& value_type, Status* why_empty) {
  try {
    return ReadRegistryText(state, host, hive, key_path, value_name, value_type, why_empty);
  } catch (const std::exception& failure) {
    ReaderFailure(state, failure);
    if (why_empty != nullptr) *why_empty = Status::Failure(win32::kInvalidFunction, failure.what());
    return {};
  }
}

void EnumRegKeys(ScanState& state, const std::string& host, Hive hive, std::string_view key_path,
                 std::vector<std::string>& list) {
  try {
    auto key = OpenRemoteKey(state, host, hive, key_path, reg::kEnumerateSubKeys);
    if (!key) return;
    for (uint32_t index = 0;; ++index) {
      Result<std::string> name = key->EnumKey(index);
      if (!name.ok()) return;
      if (Utf8ToUtf16LeBytes(name.value()).size() / 2 >= kSubkeyNameBuffer) return;
      list.push_back(TrimNull(name.value()));
    }
  } catch (const std::exception& failure) {
    ReaderFailure(state, failure);
  }
}

}  // namespace hostlore
