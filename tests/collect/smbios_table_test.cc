// The SMBIOS table parser on tables laid out as DMTF's SMBIOS standard
// (versions 2.x and 3.x) has them, with the quirks of real firmware.
#include "collect/smbios_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace hostlore {
namespace {

std::string Le16(uint16_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }

// A structure: its type, the formatted bytes after the 4-byte header, and
// its string set.
std::string Structure(uint8_t type, const std::string& fields,
                      const std::vector<std::string>& strings, uint16_t handle) {
  std::string s{static_cast<char>(type), static_cast<char>(4 + fields.size())};
  s += Le16(handle) + fields;
  for (const std::string& text : strings) s += text + '\0';
  s += strings.empty() ? std::string(2, '\0') : std::string(1, '\0');
  return s;
}

// BIOS Information as version 2.4 lays it out (0x18 bytes): vendor 1,
// version 2, release date 3.
std::string Bios(const std::vector<std::string>& strings) {
  std::string fields = "\x01\x02\x00\xF0\x03\x0F";
  fields.resize(0x18 - 4, '\0');
  return Structure(0, fields, strings, 0);
}

// System Information (2.4: 0x1B bytes; `extra` bytes beyond, as later
// versions add): manufacturer, product, version, serial by the indexes given.
std::string System(const std::string& indexes, const std::vector<std::string>& strings,
                   size_t extra = 0) {
  std::string fields = indexes;
  fields.resize(0x1B - 4 + extra, '\0');
  return Structure(1, fields, strings, 1);
}

// Processor Information (3.0: 0x30 bytes) with status byte `status`.
std::string Processor(uint8_t status, uint16_t handle) {
  std::string fields(0x30 - 4, '\0');
  fields[0] = 1;  // socket designation
  fields[0x18 - 4] = static_cast<char>(status);
  return Structure(4, fields, {"CPU" + std::to_string(handle)}, handle);
}

std::string EndOfTable() { return Structure(127, "", {}, 0xFFFF); }

// Windows' header: calling method, version, DMI revision, length.
std::string Value(uint8_t major, uint8_t minor, const std::string& table, size_t length) {
  std::string v{'\0', static_cast<char>(major), static_cast<char>(minor), '\0'};
  for (int shift = 0; shift < 32; shift += 8) v += static_cast<char>(length >> shift & 0xFF);
  return v + table;
}
std::string Value(uint8_t major, uint8_t minor, const std::string& table) {
  return Value(major, minor, table, table.size());
}

TEST(SmbiosTableTest, ReadsTheFieldsWmiTakesFromVersion2And3Tables) {
  for (const auto& [major, minor] : {std::pair{2, 4}, std::pair{3, 3}}) {
    const std::string table =
        Bios({"American Megatrends Inc.", "F.42", "03/14/2023"}) +
        System("\x01\x02\x03\x04", {"HP", "HP EliteDesk 800 G6", "1.0", "CZC1234XYZ"}) +
        Bios({"Second", "ignored"}) + Processor(0x41, 4) + Processor(0x00, 5) + Processor(0x41, 6) +
        EndOfTable() + Processor(0x41, 7);
    const std::optional<SmbiosFacts> facts = ParseSmbiosData(Value(major, minor, table));
    ASSERT_TRUE(facts) << major;
    EXPECT_EQ(facts->bios_vendor, "American Megatrends Inc.");  // the first of its type
    EXPECT_EQ(facts->bios_version, "F.42");
    EXPECT_EQ(facts->system_manufacturer, "HP");
    EXPECT_EQ(facts->system_product, "HP EliteDesk 800 G6");
    EXPECT_EQ(facts->system_serial, "CZC1234XYZ");
    EXPECT_EQ(facts->processor_sockets, 2);  // the empty socket does not count
    EXPECT_TRUE(facts->has_processor_structures);
  }
}

TEST(SmbiosTableTest, TakesFirmwareQuirksAsTheyCome) {
  // String index 0, an index past the last string, a structure longer than
  // its version's layout, bytes that are no UTF-8, no end-of-table marker.
  const std::string table = System(std::string("\x01\x00\x02\x09", 4),
                                   {"Fujitsu \xC4"
                                    "rger",
                                    "v"},
                                   12) +
                            Bios({}) + Processor(0x41, 4);
  std::optional<SmbiosFacts> facts = ParseSmbiosData(Value(3, 0, table));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->system_manufacturer, "Fujitsu \xC3\x84rger");  // Latin-1 taken as such
  EXPECT_EQ(facts->system_product, "");
  EXPECT_EQ(facts->system_serial, "");
  EXPECT_EQ(facts->bios_vendor, "");  // a structure without strings
  EXPECT_EQ(facts->processor_sockets, 1);

  // A table cut short: in the strings of a structure, then in its
  // formatted area; a length below the header's stops the walk; a header
  // that claims more than there is.
  const std::string whole =
      Bios({"Dell Inc.", "2.3.1"}) +
      System(std::string("\x01\x02\x00\x03", 4), {"Dell Inc.", "OptiPlex", "SN1"});
  const size_t system_at = whole.find("\x01\x1B");
  facts = ParseSmbiosData(Value(2, 7, whole.substr(0, whole.size() - 3)));
  ASSERT_TRUE(facts);
  EXPECT_EQ(facts->bios_version, "2.3.1");
  EXPECT_EQ(facts->system_manufacturer, "Dell Inc.");
  EXPECT_EQ(facts->system_product, "OptiPlex");
  EXPECT_EQ(facts->system_serial, "");  // cut off mid-string
  facts = ParseSmbiosData(Value(2, 7, whole.substr(0, system_at + 10)));
  EXPECT_EQ(facts->bios_vendor, "Dell Inc.");
  EXPECT_FALSE(facts->system_manufacturer);
  facts = ParseSmbiosData(Value(2, 7, std::string("\x01\x03\x00\x00", 4) + whole));
  EXPECT_FALSE(facts->bios_vendor);
  facts = ParseSmbiosData(Value(2, 7, whole, whole.size() + 4096));
  EXPECT_EQ(facts->system_serial, "SN1");
  // The header's length ends the table even when more bytes follow.
  facts = ParseSmbiosData(Value(2, 7, whole, system_at));
  EXPECT_FALSE(facts->system_manufacturer);

  EXPECT_FALSE(ParseSmbiosData(std::string("\x00\x02\x07", 3)));
  EXPECT_EQ(ParseSmbiosData(Value(2, 7, ""))->processor_sockets, 0);
}

}  // namespace
}  // namespace hostlore
