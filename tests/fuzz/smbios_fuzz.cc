// Feeds arbitrary bytes to the SMBIOS table parser, as the registry value
// of a target could hold them. It may not crash, overrun or hang, and what
// it returns must come from the bytes.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "collect/smbios_table.h"

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const std::optional<hostlore::SmbiosFacts> facts = hostlore::ParseSmbiosData(bytes);
  if (!facts) return 0;
  // Each structure takes at least four bytes, so there are no more sockets
  // than that, and a string is never longer than the input (Latin-1 text at
  // most doubles it).
  Require(static_cast<size_t>(facts->processor_sockets) <= size / 4);
  for (const auto* text : {&facts->bios_vendor, &facts->bios_version, &facts->system_manufacturer,
                           &facts->system_product, &facts->system_serial}) {
    if (*text) Require((*text)->size() <= 2 * size);
  }
  return 0;
}
