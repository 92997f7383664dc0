#include "collect/registry_hardware.h"

#include <algorithm>
#include <charconv>

#include "collect/reg_reader.h"
#include "collect/remove_double_spaces.h"
#include "collect/smbios_table.h"
#include "scan/scan_state.h"

namespace hostlore {
namespace {

constexpr const char* kVersionKey = "Software\\Microsoft\\Windows NT\\CurrentVersion";
constexpr const char* kSmbiosKey = "SYSTEM\\CurrentControlSet\\Services\\mssmbios\\Data";
constexpr const char* kProcessorKey = "HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0";
constexpr int kFirstWindows11Build = 22000;

RegistryValue Raw(ScanState& state, const char* key, const char* value) {
  return ReadRegRawValue(state, state.TargetAddress, Hive::kLocalMachine, key, value);
}

std::string Text(ScanState& state, const char* key, const char* value) {
  return ReadRegValue(state, state.TargetAddress, Hive::kLocalMachine, key, value,
                      state.RegValueType);
}

void ReadSmbios(ScanState& state, const std::optional<SmbiosFacts>& facts) {
  if (!facts) return;
  if (facts->system_manufacturer) {
    state.Manufacturer = *facts->system_manufacturer;
    state.Model = facts->system_product.value_or("");
    state.SerialNumber = facts->system_serial.value_or("");
    state.RegistryRead.system = true;
  }
  if (facts->bios_vendor) {
    state.BIOS = *facts->bios_vendor;
    state.BIOSVersion = facts->bios_version.value_or("");
    state.RegistryRead.bios = true;
  }
}

// WMI lists one processor per populated socket; the registry has a key per
// logical processor. The table says how many sockets there are; without it
// only the first processor can be told.
void ReadProcessors(ScanState& state, const std::optional<SmbiosFacts>& facts) {
  const std::string name = Text(state, kProcessorKey, "ProcessorNameString");
  const std::optional<uint32_t> mhz = DwordOf(Raw(state, kProcessorKey, "~MHz"));
  if (name.empty() && !mhz) return;
  const bool sockets_known = facts && facts->has_processor_structures;
  // A table whose sockets all read as empty still ran this processor.
  const int sockets = sockets_known ? std::max(facts->processor_sockets, 1) : 1;
  const int filled = std::min(sockets, kProcessorCount);
  for (int i = 0; i < filled; ++i) {
    ProcessorRecord& processor = state.Processors[static_cast<size_t>(i)];
    processor.Name = RemoveDoubleSpaces(name);
    processor.Speed = mhz.value_or(0);
  }
  state.RegistryRead.processors = sockets_known ? kProcessorCount : filled;
}

}  // namespace

std::string WindowsCaption(const std::string& product_name, const std::string& build) {
  if (product_name.empty()) return {};
  int build_number = 0;
  std::from_chars(build.data(), build.data() + build.size(), build_number);
  std::string name = product_name;
  const std::string windows10 = "Windows 10";
  if (build_number >= kFirstWindows11Build && name.starts_with(windows10)) {
    name.replace(0, windows10.size(), "Windows 11");
  }
  return "Microsoft " + name;
}

bool ReadCurrentWindowsVersion(ScanState& state) {
  const std::optional<uint32_t> major =
      DwordOf(Raw(state, kVersionKey, "CurrentMajorVersionNumber"));
  if (!major) return false;
  const uint32_t minor = DwordOf(Raw(state, kVersionKey, "CurrentMinorVersionNumber")).value_or(0);
  const std::string build = Text(state, kVersionKey, "CurrentBuildNumber");
  state.OSVersion = std::to_string(*major) + "." + std::to_string(minor) + "." + build;
  state.OperatingSystem = WindowsCaption(Text(state, kVersionKey, "ProductName"), build);
  return true;
}

void ReadRegistryHardware(ScanState& state) {
  const RegistryValue table = Raw(state, kSmbiosKey, "SMBiosData");
  std::optional<SmbiosFacts> facts;
  if (table.type == reg::kBinary) facts = ParseSmbiosData(table.data);
  ReadSmbios(state, facts);
  state.OSSerialNumber = Text(state, kVersionKey, "ProductId");
  ReadProcessors(state, facts);
}

}  // namespace hostlore
