#include "db/unread_fields.h"

#include "db/table_layout.h"
#include "scan/scan_state.h"

namespace hostlore {
namespace {

class RowKeeper {
 public:
  explicit RowKeeper(RecordSet& row) : row_(row) {}

  // The stored text of `ordinal`, when the row holds one.
  Result<std::optional<std::string>> Stored(int ordinal) {
    Result<FieldValue> stored = row_.Field(ordinal);
    if (!stored.ok()) return stored.status();
    if (IsNullOrEmpty(stored.value())) return std::optional<std::string>();
    Result<std::string> text = ValueAsText(stored.value());
    if (!text.ok()) return text.status();
    return std::optional<std::string>(std::move(text).value());
  }

  void Text(int ordinal, std::string& field) {
    if (!status_.ok()) return;
    Result<std::optional<std::string>> stored = Stored(ordinal);
    if (!stored.ok()) {
      status_ = stored.status();
    } else if (stored.value()) {
      field = *stored.value();
    }
  }

  template <typename Number>
  void Numeric(int ordinal, Number& field) {
    if (!status_.ok()) return;
    Result<FieldValue> stored = row_.Field(ordinal);
    if (!stored.ok()) {
      status_ = stored.status();
      return;
    }
    if (stored->is_null()) return;
    Result<double> number = ValueAsNumber(stored.value());
    if (!number.ok()) {
      status_ = number.status();
      return;
    }
    field = static_cast<Number>(number.value());
  }

  Status& status() { return status_; }

 private:
  RecordSet& row_;
  Status status_;
};

// `seen_by_wmi`: the row holds what only WMI tells (a boot device), so
// its drives were described by WMI.
void KeepDrive(RowKeeper& keep, ScanState& state, char letter, bool seen_by_wmi) {
  DriveRecord& drive = state.Drive(letter);
  const int slot = asset::DriveSlot(letter);
  const bool has_share = letter >= 'C' && letter <= 'E';
  if (has_share && !drive.Caption.empty()) {
    keep.Text(slot + 3, drive.VolumeName);
    keep.Text(slot + 4, drive.FileSystem);
    keep.Text(slot + 5, drive.VolumeSerial);
    return;
  }
  // A drive without an administrative share (CD, removable, or shares
  // turned off) is known to WMI alone. On a computer only ever seen through
  // the shares, a share that no longer answers means the drive is gone, as
  // it always did.
  if (has_share && !seen_by_wmi) return;
  Result<std::optional<std::string>> caption = keep.Stored(slot);
  if (!caption.ok()) {
    keep.status() = caption.status();
    return;
  }
  if (!caption.value()) return;
  drive.Caption = *caption.value();
  keep.Numeric(slot + 1, drive.Size);
  keep.Numeric(slot + 2, drive.FreeSpace);
  keep.Text(slot + 3, drive.VolumeName);
  keep.Text(slot + 4, drive.FileSystem);
  keep.Text(slot + 5, drive.VolumeSerial);
  drive.Kept = true;
}

}  // namespace

Status KeepUnreadFields(ScanState& state) {
  if (!state.RegistryPath) return Status::Ok();
  RowKeeper keep(*state.Db.AssetRecordset);
  Result<std::optional<std::string>> boot_device = keep.Stored(4);
  if (!boot_device.ok()) return boot_device.status();
  const bool seen_by_wmi = boot_device.value().has_value();
  keep.Text(4, state.BootDevice);
  keep.Text(5, state.Description);
  keep.Numeric(asset::kTotalPhysicalMemory, state.TotalPhysicalMemory);
  keep.Numeric(18, state.FreePhysicalMemory);
  keep.Numeric(19, state.FreeSpaceInPagingFiles);
  keep.Numeric(20, state.FreeVirtualMemory);
  // A workgroup computer has no DNS domain in its registry; WMI names its
  // workgroup instead.
  if (state.Domain.empty()) keep.Text(3, state.Domain);
  if (!state.RegistryRead.system) {
    keep.Text(1, state.Manufacturer);
    keep.Text(2, state.Model);
    keep.Text(25, state.SerialNumber);
  }
  if (!state.RegistryRead.bios) {
    keep.Text(23, state.BIOS);
    keep.Text(24, state.BIOSVersion);
  }
  for (int i = state.RegistryRead.processors; i < kProcessorCount; ++i) {
    ProcessorRecord& processor = state.Processors[static_cast<size_t>(i)];
    keep.Text(9 + 2 * i, processor.Name);
    keep.Numeric(10 + 2 * i, processor.Speed);
  }
  for (char letter = 'A'; letter < 'A' + kDriveCount; ++letter) {
    KeepDrive(keep, state, letter, seen_by_wmi);
  }
  return keep.status();
}

}  // namespace hostlore
