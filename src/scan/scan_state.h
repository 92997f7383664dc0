// The scan state: the one record through which every stage of a run
// exchanges data. The command line fills the run-control fields, the
// collectors fill the target's details, the database stages read them.
// Exactly one instance exists per run; main() owns it and every stage takes
// it by reference.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "scan/db_state.h"
#include "scan/target_changes.h"
#include "scan/work_lists.h"

namespace hostlore {

struct ProcessorRecord {
  std::string Name;
  double Speed = 0;  // current clock speed in MHz
};

// One drive letter's record, A to J.
struct DriveRecord {
  std::string Caption;
  double Size = 0;       // MB
  double FreeSpace = 0;  // MB
  std::string VolumeName;
  std::string FileSystem;
  std::string VolumeSerial;
  // The record holds what the database held: this run could not read the
  // drive, so its free-space history is not written either.
  bool Kept = false;
};

// What the registry path read of the hardware; what it did not read keeps
// its stored value (db/unread_fields.h).
struct RegistryHardwareRead {
  bool system = false;  // manufacturer, model, serial number
  bool bios = false;    // BIOS maker and version
  int processors = 0;   // processor slots read, from the first on
};

// A failed step: its number (kObjectNotSet for a call through an absent
// object) and description. `set` is false when no step has failed.
struct WmiFailure {
  bool set = false;
  int64_t number = 0;
  std::string description;
};

inline constexpr int kDriveCount = 10;  // A to J
inline constexpr int kProcessorCount = 4;
inline constexpr int kUserHiveCount = 1001;

struct ScanState {
  // --- Run control -------------------------------------------------------
  int16_t CallerIndex = 0;
  std::string TempDir;
  std::string ConnectionString;
  std::string SqlServer;
  bool UserOnly = false;
  int32_t ProgressWindow = 0;  // the progress channel's file descriptor
  // Set at start-up when ProgressWindow named no open descriptor: the lines
  // go nowhere for the whole run (CheckProgressChannel).
  bool ProgressChannelClosed = false;
  std::string ProcName;
  std::string LastError;
  std::string ErrorContext;
  std::string CommandLine;  // the whole command-line text, as given

  // --- Target identity -----------------------------------------------------
  bool PingOk = false;
  std::string TargetName;
  std::string LoggedOnUser;
  std::string TargetAddress;
  std::array<std::string, kUserHiveCount> UserHiveNames;
  int32_t RegValueType = 0;

  // --- Asset hardware and operating system --------------------------------
  // The hardware and system fields came from the registry and the shares,
  // WMI being unreachable: fields that path cannot read keep what the
  // database holds (db/unread_fields.h).
  bool RegistryPath = false;
  RegistryHardwareRead RegistryRead;
  std::string Manufacturer;
  std::string Model;
  std::string Domain;
  std::string BootDevice;
  std::string Description;
  std::string OperatingSystem;
  std::string ServicePack;
  std::string OSVersion;
  int32_t TotalPhysicalMemory = 0;     // MB
  int32_t FreePhysicalMemory = 0;      // MB
  int32_t FreeSpaceInPagingFiles = 0;  // MB
  int32_t FreeVirtualMemory = 0;       // MB
  std::string CountryCode;
  std::string WindowsDirectory;
  std::string BIOS;
  std::string BIOSVersion;
  std::string SerialNumber;
  std::string OSSerialNumber;

  std::array<ProcessorRecord, kProcessorCount> Processors;  // Processor1..4
  std::array<DriveRecord, kDriveCount> Drives;              // DriveA..DriveJ

  // --- Software and services ---------------------------------------------
  std::string SoftwareListRest;
  std::string SoftwareList;
  std::string ServicesList;
  // The software inventory of this run could not be read (nothing came back,
  // or it ended in a failure): the stored list must stay as it is and no
  // software change may be recorded.
  bool SoftwareInventoryFailed = false;
  // How many failures the registry reader's own handler has caught so far.
  int RegistryReaderFailures = 0;

  // --- WMI -----------------------------------------------------------------
  // The open connection to the target's WMI service.
  std::unique_ptr<WmiConnection> WmiServices;
  // The WMI inventory's record of its most recent failed step.
  WmiFailure LastFailure;

  // --- Work lists of the software inventory and comparison ----------------
  WorkLists Lists;

  // --- Database: connection, result sets and update-run state ------------
  DatabaseState Db;

  // --- How the run ends ----------------------------------------------------
  // Set when a failure path has sent its "Complete" line, whether or not the
  // run went on afterwards; it makes the exit status 1.
  bool FailureReported = false;
  // What the run changed on the target and must put back when it ends;
  // shared with the thread that ends the run on a termination signal.
  std::shared_ptr<TargetChanges> Changes = std::make_shared<TargetChanges>();

  // --- The outside world -----------------------------------------------------
  Platform platform;

  DriveRecord& Drive(char letter) { return Drives.at(static_cast<size_t>(letter - 'A')); }
  const DriveRecord& Drive(char letter) const {
    return Drives.at(static_cast<size_t>(letter - 'A'));
  }
};

}  // namespace hostlore
