#include "collect/nt_method.h"

#include "collect/logged_on_user.h"
#include "collect/reg_reader.h"
#include "collect/registry_hardware.h"
#include "collect/service_list.h"
#include "collect/wmi_values.h"
#include "scan/scan_state.h"
#include "scan/stage_failure.h"
#include "util/text.h"

namespace hostlore {
namespace {

constexpr const char* kVersionKey = "Software\\Microsoft\\Windows NT\\CurrentVersion";
constexpr double kBytesPerMegabyte = 1024.0 * 1024.0;

// The shares are named as they always have been: C$ upper case, d$ and e$
// lower case.
struct ShareDrive {
  char letter;
  const char* share;
};
constexpr ShareDrive kShareDrives[] = {{'C', "C$"}, {'D', "d$"}, {'E', "e$"}};

void ReadShareDrive(ScanState& state, const ShareDrive& drive) {
  uint64_t total = 0;
  uint64_t total_free = 0;
  Result<DiskSpace> space = state.platform.shares->FreeSpace(state.TargetAddress, drive.share);
  if (space.ok()) {
    total = space->total;
    total_free = space->total_free;
  }
  if (total == 0) return;
  DriveRecord& record = state.Drive(drive.letter);
  record.Caption = std::string(1, drive.letter) + ":";
  if (auto free_mb = RoundToMegabytes(static_cast<double>(total_free), kBytesPerMegabyte);
      free_mb.ok()) {
    record.FreeSpace = free_mb.value();
  }
  if (auto size_mb = RoundToMegabytes(static_cast<double>(total), kBytesPerMegabyte);
      size_mb.ok()) {
    record.Size = size_mb.value();
  }
}

std::string OperatingSystemName(const std::string& version) {
  if (version == "5.1") return "Windows XP";
  if (version == "5.0") return "Windows 2000";
  if (version == "4.0") return "Windows NT";
  return version;
}

}  // namespace

void NTMethod(ScanState& state) {
  state.RegistryPath = true;
  for (const ShareDrive& drive : kShareDrives) ReadShareDrive(state, drive);

  // A lookup that fails (more user hives than it can hold) is skipped.
  try {
    GetUser(state);
  } catch (const StageFailure&) {
  }

  const auto read = [&state](const char* key, const char* value, Hive hive = Hive::kLocalMachine) {
    return ReadRegValue(state, state.TargetAddress, hive, key, value, state.RegValueType);
  };
  state.OperatingSystem = read(kVersionKey, "CurrentVersion");
  state.ServicePack = read(kVersionKey, "CSDVersion");
  state.WindowsDirectory = read(kVersionKey, "SystemRoot");
  if (!ReadCurrentWindowsVersion(state)) {
    state.OperatingSystem = std::string(FirstCharacters(state.OperatingSystem, 3));
    state.OSVersion = state.OperatingSystem + "." + read(kVersionKey, "CurrentBuildNumber");
    if (state.OSVersion == ".") state.OSVersion.clear();
    state.OperatingSystem = OperatingSystemName(state.OperatingSystem);
  }
  state.Domain = read("SYSTEM\\CurrentControlSet\\Services\\TCPIP\\Parameters", "Domain");
  state.CountryCode = read(".DEFAULT\\Control Panel\\International", "iCountry", Hive::kUsers);
  ReadRegistryHardware(state);

  ListServices(state, ServiceReport::kMessageBox);
}

}  // namespace hostlore
