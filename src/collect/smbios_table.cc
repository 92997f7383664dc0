#include "collect/smbios_table.h"

#include <cstdint>
#include <vector>

namespace hostlore {
namespace {

constexpr size_t kWindowsHeaderBytes = 8;
constexpr size_t kStructureHeaderBytes = 4;

constexpr uint8_t kBiosInformation = 0;
constexpr uint8_t kSystemInformation = 1;
constexpr uint8_t kProcessorInformation = 4;
constexpr uint8_t kEndOfTable = 127;

// Field offsets within a structure's formatted area.
constexpr size_t kBiosVendor = 0x04;
constexpr size_t kBiosVersion = 0x05;
constexpr size_t kSystemManufacturer = 0x04;
constexpr size_t kSystemProduct = 0x05;
constexpr size_t kSystemSerial = 0x07;
constexpr size_t kProcessorStatus = 0x18;
constexpr uint8_t kSocketPopulated = 0x40;

uint8_t Byte(std::string_view bytes, size_t at) { return static_cast<uint8_t>(bytes[at]); }

// Whether `bytes` is well-formed UTF-8 (no overlong forms, no surrogates).
bool IsUtf8(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size();) {
    const uint8_t lead = Byte(bytes, i);
    size_t extra = 0;
    uint32_t code = 0;
    if (lead < 0x80) {
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1;
      code = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2;
      code = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3;
      code = lead & 0x07;
    } else {
      return false;
    }
    if (i + extra >= bytes.size()) return false;
    for (size_t k = 1; k <= extra; ++k) {
      const uint8_t next = Byte(bytes, i + k);
      if ((next & 0xC0) != 0x80) return false;
      code = code << 6 | (next & 0x3F);
    }
    static constexpr uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (code < kSmallest[extra] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
      return false;
    }
    i += extra + 1;
  }
  return true;
}

// Firmware strings are meant to be ASCII; some carry UTF-8, a few a legacy
// code page. Text that is not UTF-8 is taken byte for byte as Latin-1, so
// that whatever the firmware wrote becomes valid text.
std::string FirmwareText(std::string_view bytes) {
  if (IsUtf8(bytes)) return std::string(bytes);
  std::string text;
  for (const char c : bytes) {
    const auto byte = static_cast<uint8_t>(c);
    if (byte < 0x80) {
      text += c;
    } else {
      text += static_cast<char>(0xC0 | byte >> 6);
      text += static_cast<char>(0x80 | (byte & 0x3F));
    }
  }
  return text;
}

// One structure: its formatted area and its strings.
struct Structure {
  uint8_t type = 0;
  std::string_view formatted;
  std::vector<std::string_view> strings;

  // The string that the byte at `offset` names (1-based); empty text for
  // index 0, an index past the last string, or a field beyond the area.
  std::string Text(size_t offset) const {
    if (offset >= formatted.size()) return {};
    const uint8_t index = Byte(formatted, offset);
    if (index == 0 || index > strings.size()) return {};
    return FirmwareText(strings[index - 1]);
  }
};

// The structure at `at` of `table`, and in `next` where the following one
// starts; nullopt when no whole formatted area is left. A string set that
// the table cuts short still yields its complete strings, and `next` is then
// the end of the table.
std::optional<Structure> ReadStructure(std::string_view table, size_t at, size_t& next) {
  if (table.size() - at < kStructureHeaderBytes) return std::nullopt;
  const size_t length = Byte(table, at + 1);
  if (length < kStructureHeaderBytes || length > table.size() - at) return std::nullopt;
  Structure s;
  s.type = Byte(table, at);
  s.formatted = table.substr(at, length);
  // The string set runs to the first pair of NULs after the formatted area;
  // a set without strings is that pair alone.
  size_t end = at + length;
  while (end + 1 < table.size() && (table[end] != '\0' || table[end + 1] != '\0')) ++end;
  const bool terminated = end + 1 < table.size();
  // With its terminator, the set keeps the last string's NUL.
  const size_t set_end = terminated ? end + 1 : table.size();
  const std::string_view set = table.substr(at + length, set_end - (at + length));
  size_t start = 0;
  while (start < set.size() && set[start] != '\0') {
    const size_t nul = set.find('\0', start);
    if (nul == std::string_view::npos) break;  // cut off mid-string
    s.strings.push_back(set.substr(start, nul - start));
    start = nul + 1;
  }
  next = terminated ? end + 2 : table.size();
  return s;
}

}  // namespace

std::optional<SmbiosFacts> ParseSmbiosData(std::string_view raw) {
  if (raw.size() < kWindowsHeaderBytes) return std::nullopt;
  const uint32_t length =
      static_cast<uint32_t>(Byte(raw, 4)) | static_cast<uint32_t>(Byte(raw, 5)) << 8 |
      static_cast<uint32_t>(Byte(raw, 6)) << 16 | static_cast<uint32_t>(Byte(raw, 7)) << 24;
  std::string_view table = raw.substr(kWindowsHeaderBytes);
  if (length < table.size()) table = table.substr(0, length);

  SmbiosFacts facts;
  size_t at = 0;
  while (at < table.size()) {
    size_t next = table.size();
    const std::optional<Structure> s = ReadStructure(table, at, next);
    if (!s || s->type == kEndOfTable) break;
    if (s->type == kBiosInformation && !facts.bios_vendor) {
      facts.bios_vendor = s->Text(kBiosVendor);
      facts.bios_version = s->Text(kBiosVersion);
    } else if (s->type == kSystemInformation && !facts.system_manufacturer) {
      facts.system_manufacturer = s->Text(kSystemManufacturer);
      facts.system_product = s->Text(kSystemProduct);
      facts.system_serial = s->Text(kSystemSerial);
    } else if (s->type == kProcessorInformation) {
      facts.has_processor_structures = true;
      // Version 2.0 firmware without a status byte: the socket counts.
      const bool populated = s->formatted.size() <= kProcessorStatus ||
                             (Byte(s->formatted, kProcessorStatus) & kSocketPopulated) != 0;
      if (populated) ++facts.processor_sockets;
    }
    at = next;
  }
  return facts;
}

}  // namespace hostlore
