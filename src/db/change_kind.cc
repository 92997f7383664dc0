#include "db/change_kind.h"

#include <algorithm>
#include <vector>

#include "db/compare_asset_fields.h"

namespace hostlore {
namespace {

constexpr std::string_view kChangedSuffix = " changed ";  // ends every field label
constexpr std::string_view kNewRecord = "New Record Created";
constexpr std::string_view kInstalled = "New Software installed : ";
constexpr std::string_view kRemoved = "Software removed : ";
constexpr std::string_view kSoftwareChanges[] = {" Version changed from ", " Location changed from ",
                                                 " Product ID changed from "};
constexpr std::string_view kKindNames[] = {"new", "hardware", "drive", "installed",
                                           "removed", "software", "other"};

}  // namespace

ChangeReading ReadChange(std::string_view message) {
  if (message == kNewRecord) return {ChangeKind::kNewRecord, {}};
  if (message.starts_with(kInstalled)) {
    return {ChangeKind::kInstalled, std::string(message.substr(kInstalled.size()))};
  }
  if (message.starts_with(kRemoved)) return {ChangeKind::kRemoved, std::string(message.substr(kRemoved.size()))};
  static const std::vector<std::string> labels = AssetChangeLabels();
  for (const std::string& label : labels) {
    if (message.starts_with(label) && message.substr(label.size()).starts_with("from ")) {
      const std::string_view subject = std::string_view(label).substr(0, label.size() - kChangedSuffix.size());
      return {label.starts_with("Drive ") ? ChangeKind::kDrive : ChangeKind::kHardware, std::string(subject)};
    }
  }
  size_t first = std::string_view::npos;
  for (const std::string_view marker : kSoftwareChanges) first = std::min(first, message.find(marker));
  if (first != std::string_view::npos && first > 0) {
    return {ChangeKind::kSoftware, std::string(message.substr(0, first))};
  }
  return {ChangeKind::kOther, {}};
}

std::string_view ChangeKindName(ChangeKind kind) { return kKindNames[static_cast<size_t>(kind)]; }

std::optional<ChangeKind> ChangeKindFromName(std::string_view name) {
  for (size_t i = 0; i < std::size(kKindNames); ++i) {
    if (kKindNames[i] == name) return static_cast<ChangeKind>(i);
  }
  return std::nullopt;
}

}  // namespace hostlore
