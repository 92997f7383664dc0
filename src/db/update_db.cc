#include "db/update_db.h"

#include <vector>

#include "db/compare_asset_fields.h"
#include "db/compare_software_lists.h"
#include "db/drive_history.h"
#include "db/open_tables.h"
#include "db/table_layout.h"
#include "db/table_queries.h"
#include "db/unread_fields.h"
#include "diag/log_error.h"
#include "diag/report_progress.h"
#include "diag/time_stamp.h"
#include "scan/process_end.h"
#include "scan/scan_state.h"

namespace hostlore {
namespace {

struct ColumnWrite {
  int ordinal;
  FieldValue value;
};

// Rows 1 to 27 of the write order: every one is pin-tested.
std::vector<ColumnWrite> InventoryWrites(const ScanState& s) {
  std::vector<ColumnWrite> writes;
  const auto add = [&writes](int ordinal, FieldValue value) {
    writes.push_back({ordinal, std::move(value)});
  };
  add(1, s.Manufacturer);
  add(2, s.Model);
  add(3, s.Domain);
  add(4, s.BootDevice);
  add(5, s.Description);
  add(6, s.OperatingSystem);
  add(asset::kOSSerialNumber, s.OSSerialNumber);
  add(7, s.ServicePack);
  add(8, s.OSVersion);
  for (int i = 0; i < kProcessorCount; ++i) {
    const ProcessorRecord& processor = s.Processors[static_cast<size_t>(i)];
    add(9 + 2 * i, processor.Name);
    add(10 + 2 * i, processor.Speed);
  }
  add(asset::kIPAddress, s.TargetAddress);
  add(17, s.TotalPhysicalMemory);
  add(18, s.FreePhysicalMemory);
  add(19, s.FreeSpaceInPagingFiles);
  add(20, s.FreeVirtualMemory);
  add(21, s.CountryCode);
  add(22, s.WindowsDirectory);
  add(23, s.BIOS);
  add(24, s.BIOSVersion);
  add(25, s.SerialNumber);
  return writes;
}

std::string Now(const ScanState& state) { return FormatTimeStamp(state.platform.clock->Now()); }

Result<bool> StoredIsPinned(const RecordSet& row, int ordinal) {
  Result<FieldValue> stored = row.Field(ordinal);
  if (!stored.ok()) return stored.status();
  return IsPinned(stored.value());
}

Status WriteUnlessPinned(RecordSet& row, const ColumnWrite& write) {
  Result<bool> pinned = StoredIsPinned(row, write.ordinal);
  if (!pinned.ok()) return pinned.status();
  if (pinned.value()) return Status::Ok();
  return row.Update(write.ordinal, write.value);
}

Status WriteDriveSlot(ScanState& state, char letter) {
  RecordSet& asset_row = *state.Db.AssetRecordset;
  const DriveRecord& drive = state.Drive(letter);
  const int first = asset::DriveSlot(letter);
  if (drive.Caption.empty()) {
    // No such drive: the slot empties, pinned or not.
    for (const int offset : {0, 1, 2, 3, 5, 4}) {
      if (Status s = asset_row.Update(first + offset, FieldValue::Null()); !s.ok()) return s;
    }
    return Status::Ok();
  }
  // A drive this run could not read has no free space of today to record.
  if (letter >= 'C' && !drive.Kept) {
    if (Status s = UpdateDriveHistory(state, drive.Caption, drive.FreeSpace); !s.ok()) return s;
  }
  Result<bool> pinned = StoredIsPinned(asset_row, first);
  if (!pinned.ok()) return pinned.status();
  if (pinned.value()) return Status::Ok();
  const FieldValue values[] = {drive.Caption,    drive.Size,       drive.FreeSpace,
                               drive.VolumeName, drive.FileSystem, drive.VolumeSerial};
  for (int offset = 0; offset < 6; ++offset) {
    if (Status s = asset_row.Update(first + offset, values[offset]); !s.ok()) return s;
  }
  return Status::Ok();
}

void OpenRowsOfTarget(ScanState& state) {
  state.Db.AssetQuery = AssetRowQuery(state.TargetName);
  state.Db.SoftwareQuery = SoftwareRowQuery(state.TargetName);
  state.Db.ServicesQuery = ServicesRowQuery(state.TargetName);
}

// Steps up to the open rows of the target, each positioned on its first row.
Status MakeSureRowsExist(ScanState& state) {
  DatabaseState& db = state.Db;
  OpenRowsOfTarget(state);
  OpenAssetTable(state);
  OpenSoftwareTable(state);
  OpenServicesTable(state);
  const FieldValue name(state.TargetName);
  if (db.AssetRecordset->RecordCount() == 0) {
    db.AssetQuery = AllAssetRows();
    db.SoftwareQuery = AllSoftwareRows();
    db.ServicesQuery = AllServicesRows();
    OpenAssetTable(state);
    OpenSoftwareTable(state);
    OpenServicesTable(state);
    if (Status s = db.AssetRecordset->AddNew(0, name); !s.ok()) return s;
    if (Status s = db.ServicesRecordset->AddNew(0, name); !s.ok()) return s;
    if (Status s = db.SoftwareRecordset->AddNew(0, name); !s.ok()) return s;
    db.NewAssetRecord = true;
  }
  if (db.SoftwareRecordset->RecordCount() == 0) {
    db.SoftwareQuery = AllSoftwareRows();
    OpenSoftwareTable(state);
    if (Status s = db.SoftwareRecordset->AddNew(0, name); !s.ok()) return s;
  }
  if (db.ServicesRecordset->RecordCount() == 0) {
    db.ServicesQuery = AllServicesRows();
    OpenServicesTable(state);
    if (Status s = db.ServicesRecordset->AddNew(0, name); !s.ok()) return s;
  }
  OpenRowsOfTarget(state);
  OpenAssetTable(state);
  OpenServicesTable(state);
  OpenSoftwareTable(state);
  return Status::Ok();
}

// An Asset row that held memory and a WMI scan that found none: the
// collected values are broken, and nothing of them may be stored. (The
// registry path reads no memory; its unread fields keep their values.)
Status StopOnImplausibleInventory(ScanState& state) {
  if (state.RegistryPath) return Status::Ok();
  Result<FieldValue> stored = state.Db.AssetRecordset->Field(asset::kTotalPhysicalMemory);
  if (!stored.ok()) return stored.status();
  if (stored->is_null()) return Status::Ok();
  Result<double> memory = ValueAsNumber(stored.value());
  if (!memory.ok()) return memory.status();
  if (memory.value() > 0 && state.TotalPhysicalMemory < 1) {
    LogError(state, "Problems with WMI", state.TargetName + ":" + "WMI details false");
    ReportFailureComplete(state);
    EndProcess(state);
  }
  return Status::Ok();
}

Status StoreLists(ScanState& state) {
  DatabaseState& db = state.Db;
  if (!state.SoftwareInventoryFailed) {
    // A Null stored list (a computer seen for the first time) is not compared.
    Result<FieldValue> stored = db.SoftwareRecordset->Field(1);
    if (stored.ok() && !stored->is_null()) {
      if (Result<std::string> text = ValueAsText(stored.value()); text.ok()) {
        if (Status s = CompareSoftwareLists(state, text.value(), state.SoftwareList); !s.ok()) {
          return s;
        }
      }
    }
    if (Status s = db.SoftwareRecordset->Update(1, FieldValue(state.SoftwareList)); !s.ok()) return s;
  }
  return db.ServicesRecordset->Update(1, FieldValue(state.ServicesList));
}

// Undoes the update run's changes unless they were committed, also when the
// run ends through a failure path that ends the process.
class RollbackUnlessCommitted {
 public:
  explicit RollbackUnlessCommitted(ScanState& state) : state_(state) {}
  RollbackUnlessCommitted(const RollbackUnlessCommitted&) = delete;
  RollbackUnlessCommitted& operator=(const RollbackUnlessCommitted&) = delete;
  ~RollbackUnlessCommitted() {
    if (state_.Db.Connection) state_.Db.Connection->RollbackTransaction();
  }

 private:
  ScanState& state_;
};

Status RunUpdate(ScanState& state) {
  if (Status s = MakeSureRowsExist(state); !s.ok()) return s;
  RecordSet& asset_row = *state.Db.AssetRecordset;
  if (state.Db.NewAssetRecord) {
    const std::string record = Now(state) + "~" + "New Record Created" + "^";
    if (Status s = asset_row.Update(asset::kHistory, FieldValue(record)); !s.ok()) return s;
  }
  if (state.UserOnly) {
    if (Status s = asset_row.Update(asset::kLastScanned, FieldValue(Now(state))); !s.ok()) return s;
    return asset_row.Update(asset::kLoggedOnUser, FieldValue(state.LoggedOnUser));
  }

  state.Db.AssetRowEmpty = true;
  for (int ordinal = 1; ordinal <= 20; ++ordinal) {
    Result<FieldValue> stored = asset_row.Field(ordinal);
    if (!stored.ok()) return stored.status();
    if (!IsNullOrEmpty(stored.value())) state.Db.AssetRowEmpty = false;
  }
  if (Status s = KeepUnreadFields(state); !s.ok()) return s;
  if (Status s = StopOnImplausibleInventory(state); !s.ok()) return s;
  if (Status s = CompareAssetFields(state); !s.ok()) return s;
  for (const ColumnWrite& write : InventoryWrites(state)) {
    if (Status s = WriteUnlessPinned(asset_row, write); !s.ok()) return s;
  }
  for (char letter = 'A'; letter <= 'J'; ++letter) {
    if (Status s = WriteDriveSlot(state, letter); !s.ok()) return s;
  }
  if (Status s = asset_row.Update(asset::kLastScanned, FieldValue(Now(state))); !s.ok()) return s;
  if (Status s = asset_row.Update(asset::kLoggedOnUser, FieldValue(state.LoggedOnUser)); !s.ok()) {
    return s;
  }
  if (Status s = StoreLists(state); !s.ok()) return s;
  asset_row.Close();
  return Status::Ok();
}

}  // namespace

void UpdateDB(ScanState& state) {
  // One transaction holds the whole run: what another agent or a failure
  // can leave behind is the rows as they were before, or as the run wrote
  // them, never a part. Runs for one computer wait for each other.
  Database& connection = UpdateRunConnection(state);
  const RollbackUnlessCommitted rollback(state);
  Status status = connection.BeginTransaction(state.TargetName);
  if (status.ok()) status = RunUpdate(state);
  if (status.ok()) status = connection.CommitTransaction();
  if (status.ok()) return;
  DropRunConnection(state);
  LogError(state, "Error updating database", state.TargetName + ":" + status.description());
  ReportFailureComplete(state);
  state.Db.AssetRecordset.reset();
}

}  // namespace hostlore
