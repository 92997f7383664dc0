// What a history record is about, read from its message: the computer's
// first record, a hardware or system field, a drive's size or file system,
// a program installed, removed or changed. The message format is the
// history's own; a program whose name reads like a field label is taken
// for the field.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hostlore {

enum class ChangeKind { kNewRecord, kHardware, kDrive, kInstalled, kRemoved, kSoftware, kOther };

struct ChangeReading {
  ChangeKind kind = ChangeKind::kOther;
  // The field ("Physical Memory", "Drive C: Size") or the program's name;
  // empty for the first record and for messages of no known form.
  std::string subject;
};

ChangeReading ReadChange(std::string_view message);

// "new", "hardware", "drive", "installed", "removed", "software", "other":
// the names that filters and exports use.
std::string_view ChangeKindName(ChangeKind kind);
std::optional<ChangeKind> ChangeKindFromName(std::string_view name);

}  // namespace hostlore
