// The hardware of a target whose WMI service cannot be reached, from its
// registry: the firmware's SMBIOS table that Windows keeps there, the
// processor keys, and the product id. The texts are the ones WMI gives for
// the same computer (WMI reads the same sources).
#pragma once

#include <string>

namespace hostlore {

struct ScanState;

// Fills Manufacturer, Model, SerialNumber, BIOS, BIOSVersion (from the
// SMBIOS table), OSSerialNumber (ProductId) and the processors (one per
// populated processor socket of the table, named and clocked from
// HKLM\HARDWARE\DESCRIPTION\System\CentralProcessor\0), and records in
// RegistryRead what it could read. Memory is not read: no registry value
// is documented to equal what WMI reports.
void ReadRegistryHardware(ScanState& state);

// Windows 10 and later keep "CurrentVersion" at 6.3 and give their version
// in CurrentMajorVersionNumber and CurrentMinorVersionNumber (REG_DWORD):
// when those exist, OperatingSystem and OSVersion become what WMI's Caption
// and Version say ("Microsoft Windows 11 Pro", "10.0.22631"), and true is
// returned; false leaves both to the older mapping.
bool ReadCurrentWindowsVersion(ScanState& state);

// WMI's Caption for ProductName and CurrentBuildNumber: "Microsoft " + the
// product name, Windows 11 (build 22000 on) still naming itself Windows 10
// in the registry.
std::string WindowsCaption(const std::string& product_name, const std::string& build);

}  // namespace hostlore
