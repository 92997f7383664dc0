#include "db/compare_asset_fields.h"

#include <string>

#include "db/history_text.h"
#include "db/table_layout.h"
#include "scan/scan_state.h"
#include "util/shortest_decimal.h"

namespace hostlore {
namespace {

// A difference of less than this many MHz is not a processor change.
constexpr double kSpeedBandMhz = 100;

// A number as text with one leading position for its sign: " 512", "-5".
std::string WithSignPosition(double number) {
  const std::string digits = FormatShortestDecimal(number);
  return digits.starts_with('-') ? digits : " " + digits;
}

struct TextRow {
  std::string_view label;
  int column;
  const std::string ScanState::*field;
};

// Rows 1 to 9 and 18 to 22 of the comparison order; processor names sit
// between their speeds and are compared in that place.
constexpr TextRow kLeadingTextRows[] = {
    {"Manufacturer changed ", 1, &ScanState::Manufacturer},
    {"Model changed ", 2, &ScanState::Model},
    {"Domain changed ", 3, &ScanState::Domain},
    {"Boot Device changed ", 4, &ScanState::BootDevice},
    {"Description changed ", 5, &ScanState::Description},
    {"OS changed ", 6, &ScanState::OperatingSystem},
    {"Service Pack changed ", 7, &ScanState::ServicePack},
    {"OS Version changed ", 8, &ScanState::OSVersion},
};
constexpr TextRow kTrailingTextRows[] = {
    {"Country Code changed ", 21, &ScanState::CountryCode},
    {"Windows Directory changed ", 22, &ScanState::WindowsDirectory},
    {"BIOS changed ", 23, &ScanState::BIOS},
    {"BIOS Version changed ", 24, &ScanState::BIOSVersion},
    {"Serial Number changed ", 25, &ScanState::SerialNumber},
};

constexpr std::string_view kProcessorLabels[][2] = {
    {"Processor 1 changed ", "Processor 1 speed changed "},
    {"Processor 2 changed ", "Processor 2 speed changed "},
    {"Processor 3 changed ", "Processor 3 speed changed "},
    {"Processor 4 changed ", "Processor 4 speed changed "},
};

constexpr std::string_view kMemoryLabel = "Physical Memory changed ";
constexpr std::string_view kDriveSize = "Size changed ";
constexpr std::string_view kDriveSystem = "System changed ";

std::string DriveLabel(char letter, std::string_view what) {
  return std::string("Drive ") + letter + ": " + std::string(what);
}

// The speed is compared only when it moved by the band or more.
Status CompareSpeed(ScanState& state, int column, double new_speed, std::string_view label) {
  Result<FieldValue> stored = state.Db.AssetRecordset->Field(column);
  if (!stored.ok()) return stored.status();
  if (stored->is_null()) return Status::Ok();
  Result<double> old_speed = ValueAsNumber(stored.value());
  if (!old_speed.ok()) return old_speed.status();
  if (new_speed >= old_speed.value() + kSpeedBandMhz || new_speed <= old_speed.value() - kSpeedBandMhz) {
    return CompareNumberField(state, column, new_speed, label);
  }
  return Status::Ok();
}

// A drive that is or was a CD drive is not compared. Asked again before each
// of the drive's two comparisons.
Result<bool> PassesCdRule(ScanState& state, char letter) {
  if (state.Drive(letter).FileSystem == "CDFS") return false;
  Result<FieldValue> stored = state.Db.AssetRecordset->Field(asset::DriveSlot(letter) + 4);
  if (!stored.ok()) return stored.status();
  if (stored->is_null()) return false;
  Result<std::string> text = ValueAsText(stored.value());
  if (!text.ok()) return text.status();
  return text.value() != "CDFS";
}

Status CompareDrive(ScanState& state, char letter) {
  const int slot = asset::DriveSlot(letter);
  Result<bool> compare = PassesCdRule(state, letter);
  if (!compare.ok()) return compare.status();
  if (compare.value()) {
    const std::string label = DriveLabel(letter, kDriveSize);
    if (Status s = CompareNumberField(state, slot + 1, state.Drive(letter).Size, label); !s.ok()) {
      return s;
    }
  }
  compare = PassesCdRule(state, letter);
  if (!compare.ok()) return compare.status();
  if (compare.value()) {
    const std::string label = DriveLabel(letter, kDriveSystem);
    return CompareTextField(state, slot + 4, state.Drive(letter).FileSystem, label);
  }
  return Status::Ok();
}

}  // namespace

Status CompareTextField(ScanState& state, int column, std::string_view new_value,
                        std::string_view label) {
  Result<FieldValue> stored = state.Db.AssetRecordset->Field(column);
  if (!stored.ok()) return stored.status();
  if (IsPinned(stored.value()) || state.Db.AssetRowEmpty || stored->is_null()) return Status::Ok();
  Result<std::string> old_text = ValueAsText(stored.value());
  if (!old_text.ok()) return old_text.status();
  if (old_text.value() == new_value) return Status::Ok();

  std::string message(label);
  if (old_text->empty()) {
    message += "from nothing To ";
    message += new_value;
  } else if (!new_value.empty()) {
    message += "from " + old_text.value() + " To ";
    message += new_value;
  } else {
    message += "from " + old_text.value() + " To nothing";
  }
  return AppendHistoryRecord(state, message, HistoryTrim::kTrim);
}

Status CompareNumberField(ScanState& state, int column, double new_value, std::string_view label) {
  Result<FieldValue> stored = state.Db.AssetRecordset->Field(column);
  if (!stored.ok()) return stored.status();
  if (state.Db.AssetRowEmpty || stored->is_null()) return Status::Ok();

  const bool stored_empty = stored->is_text() && stored->text().empty();
  if (!stored_empty) {
    Result<double> old_number = ValueAsNumber(stored.value());
    if (!old_number.ok()) return old_number.status();
    if (old_number.value() == new_value) return Status::Ok();
  }

  std::string message(label);
  if (stored_empty) {
    message += "from nothing To " + FormatShortestDecimal(new_value);
  } else if (new_value != 0) {
    message += "from " + ValueAsText(stored.value()).value() + " To " + FormatShortestDecimal(new_value);
  } else {
    message += "from " + WithSignPosition(ValueAsNumber(stored.value()).value()) + " To nothing";
  }
  return AppendHistoryRecord(state, message, HistoryTrim::kTrim);
}

std::vector<std::string> AssetChangeLabels() {
  std::vector<std::string> labels;
  for (const TextRow& row : kLeadingTextRows) labels.emplace_back(row.label);
  for (const auto& processor : kProcessorLabels) {
    labels.emplace_back(processor[0]);
    labels.emplace_back(processor[1]);
  }
  labels.emplace_back(kMemoryLabel);
  for (const TextRow& row : kTrailingTextRows) labels.emplace_back(row.label);
  for (char letter = 'C'; letter <= 'J'; ++letter) {
    labels.push_back(DriveLabel(letter, kDriveSize));
    labels.push_back(DriveLabel(letter, kDriveSystem));
  }
  return labels;
}

Status CompareAssetFields(ScanState& state) {
  for (const TextRow& row : kLeadingTextRows) {
    if (Status s = CompareTextField(state, row.column, state.*row.field, row.label); !s.ok()) return s;
  }
  for (int i = 0; i < kProcessorCount; ++i) {
    const ProcessorRecord& processor = state.Processors[static_cast<size_t>(i)];
    const int name_column = 9 + 2 * i;
    if (Status s = CompareTextField(state, name_column, processor.Name, kProcessorLabels[i][0]); !s.ok()) {
      return s;
    }
    if (Status s = CompareSpeed(state, name_column + 1, processor.Speed, kProcessorLabels[i][1]); !s.ok()) {
      return s;
    }
  }
  if (Status s = CompareNumberField(state, asset::kTotalPhysicalMemory, state.TotalPhysicalMemory,
                                    kMemoryLabel);
      !s.ok()) {
    return s;
  }
  for (const TextRow& row : kTrailingTextRows) {
    if (Status s = CompareTextField(state, row.column, state.*row.field, row.label); !s.ok()) return s;
  }
  for (char letter = 'C'; letter <= 'J'; ++letter) {
    if (Status s = CompareDrive(state, letter); !s.ok()) return s;
  }
  return Status::Ok();
}

}  // namespace hostlore
