#include "db/table_layout.h"

namespace hostlore {
namespace {

using K = ColumnKind;

constexpr ColumnLayout kAssetColumns[] = {
    {"Computer", K::kText},
    {"Manufacturer", K::kText},
    {"Model", K::kText},
    {"Domain", K::kText},
    {"BootDevice", K::kText},
    {"Description", K::kText},
    {"OperatingSystem", K::kText},
    {"ServicePack", K::kText},
    {"OSVersion", K::kText},
    {"Processor1", K::kText},
    {"Processor1Speed", K::kDouble},
    {"Processor2", K::kText},
    {"Processor2Speed", K::kDouble},
    {"Processor3", K::kText},
    {"Processor3Speed", K::kDouble},
    {"Processor4", K::kText},
    {"Processor4Speed", K::kDouble},
    {"TotalPhysicalMemory", K::kInteger},
    {"FreePhysicalMemory", K::kInteger},
    {"FreeSpaceInPagingFiles", K::kInteger},
    {"FreeVirtualMemory", K::kInteger},
    {"CountryCode", K::kText},
    {"WindowsDirectory", K::kText},
    {"BIOS", K::kText},
    {"BIOSVersion", K::kText},
    {"SerialNumber", K::kText},
    {"LastScanned", K::kText},
    {"LoggedOnUser", K::kText},
    {"Spare28", K::kSpare},
    {"Spare29", K::kSpare},
    {"IPAddress", K::kText},
    {"DriveACaption", K::kText},
    {"DriveASize", K::kDouble},
    {"DriveAFreeSpace", K::kDouble},
    {"DriveAVolumeName", K::kText},
    {"DriveAFileSystem", K::kText},
    {"DriveAVolumeSerial", K::kText},
    {"DriveBCaption", K::kText},
    {"DriveBSize", K::kDouble},
    {"DriveBFreeSpace", K::kDouble},
    {"DriveBVolumeName", K::kText},
    {"DriveBFileSystem", K::kText},
    {"DriveBVolumeSerial", K::kText},
    {"DriveCCaption", K::kText},
    {"DriveCSize", K::kDouble},
    {"DriveCFreeSpace", K::kDouble},
    {"DriveCVolumeName", K::kText},
    {"DriveCFileSystem", K::kText},
    {"DriveCVolumeSerial", K::kText},
    {"DriveDCaption", K::kText},
    {"DriveDSize", K::kDouble},
    {"DriveDFreeSpace", K::kDouble},
    {"DriveDVolumeName", K::kText},
    {"DriveDFileSystem", K::kText},
    {"DriveDVolumeSerial", K::kText},
    {"DriveECaption", K::kText},
    {"DriveESize", K::kDouble},
    {"DriveEFreeSpace", K::kDouble},
    {"DriveEVolumeName", K::kText},
    {"DriveEFileSystem", K::kText},
    {"DriveEVolumeSerial", K::kText},
    {"DriveFCaption", K::kText},
    {"DriveFSize", K::kDouble},
    {"DriveFFreeSpace", K::kDouble},
    {"DriveFVolumeName", K::kText},
    {"DriveFFileSystem", K::kText},
    {"DriveFVolumeSerial", K::kText},
    {"DriveGCaption", K::kText},
    {"DriveGSize", K::kDouble},
    {"DriveGFreeSpace", K::kDouble},
    {"DriveGVolumeName", K::kText},
    {"DriveGFileSystem", K::kText},
    {"DriveGVolumeSerial", K::kText},
    {"DriveHCaption", K::kText},
    {"DriveHSize", K::kDouble},
    {"DriveHFreeSpace", K::kDouble},
    {"DriveHVolumeName", K::kText},
    {"DriveHFileSystem", K::kText},
    {"DriveHVolumeSerial", K::kText},
    {"DriveICaption", K::kText},
    {"DriveISize", K::kDouble},
    {"DriveIFreeSpace", K::kDouble},
    {"DriveIVolumeName", K::kText},
    {"DriveIFileSystem", K::kText},
    {"DriveIVolumeSerial", K::kText},
    {"DriveJCaption", K::kText},
    {"DriveJSize", K::kDouble},
    {"DriveJFreeSpace", K::kDouble},
    {"DriveJVolumeName", K::kText},
    {"DriveJFileSystem", K::kText},
    {"DriveJVolumeSerial", K::kText},
    {"Spare91", K::kSpare},
    {"History", K::kLongText},
    {"OSSerialNumber", K::kText},
};

constexpr ColumnLayout kSoftwareColumns[] = {
    {"SoftComputer", K::kText},
    {"SoftwareText", K::kLongText},
};

constexpr ColumnLayout kServicesColumns[] = {
    {"ServComputer", K::kText},
    {"ServicesText", K::kLongText},
};

constexpr ColumnLayout kLastAccessColumns[] = {
    {"Computer", K::kText},
    {"AccessTime", K::kText},
};

constexpr ColumnLayout kDriveHistoryColumns[] = {
    {"DiskComputer", K::kText},
    {"DriveHistoryText", K::kText},
    {"DiskOwner", K::kText},
};

constexpr TableLayout kTables[] = {
    {"Asset", "Computer", kAssetColumns},
    {"Software", "SoftComputer", kSoftwareColumns},
    {"Services", "ServComputer", kServicesColumns},
    {"LastAccess", "Computer", kLastAccessColumns},
    {"DriveHistory", "DiskComputer", kDriveHistoryColumns},
};

}  // namespace

std::span<const TableLayout> AllTableLayouts() { return kTables; }

const TableLayout* FindTableLayout(std::string_view name) {
  for (const TableLayout& table : kTables) {
    if (table.name == name) return &table;
  }
  return nullptr;
}

std::string_view KindName(ColumnKind kind) {
  switch (kind) {
    case ColumnKind::kText: return "text";
    case ColumnKind::kLongText: return "long text";
    case ColumnKind::kDouble: return "double";
    case ColumnKind::kInteger: return "integer";
    case ColumnKind::kSpare: return "spare";
  }
  return "?";
}

}  // namespace hostlore
