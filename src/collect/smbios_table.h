// The firmware's SMBIOS table as Windows keeps a copy of it in the registry
// (value SMBiosData of HKLM\SYSTEM\CurrentControlSet\Services\mssmbios\Data):
// an 8-byte header (calling method, major and minor version, DMI revision,
// 32-bit table length), then the raw structures. WMI takes its hardware
// texts from the same structures, which is what makes this path give the
// texts that WMI gives.
//
// The bytes come from the target and are untrusted: every read is bounds-
// checked, and firmware quirks are taken as real firmware writes them (a
// string index of 0 or past the last string reads as empty text, structures
// longer than their version's layout keep their known fields, a table cut
// short or lacking its end-of-table structure yields what was complete).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace hostlore {

struct SmbiosFacts {
  // From the first BIOS Information structure (type 0); nullopt when the
  // table has none.
  std::optional<std::string> bios_vendor;
  std::optional<std::string> bios_version;
  // From the first System Information structure (type 1).
  std::optional<std::string> system_manufacturer;
  std::optional<std::string> system_product;
  std::optional<std::string> system_serial;
  // Processor Information structures (type 4) of populated sockets: one per
  // physical processor, as WMI counts processors.
  int processor_sockets = 0;
  bool has_processor_structures = false;
};

// The facts of the registry value's bytes. nullopt when the bytes hold no
// table at all (shorter than the header).
std::optional<SmbiosFacts> ParseSmbiosData(std::string_view raw);

}  // namespace hostlore
