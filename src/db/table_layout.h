// The five tables by position: the contract between the stages, which
// address columns only by ordinal, and the schema scripts. The names are
// for creating and checking the schema and for people reading it.
#pragma once

#include <span>
#include <string_view>

namespace hostlore {

enum class ColumnKind {
  kText,      // text of a declared length
  kLongText,  // text without a length limit
  kDouble,
  kInteger,   // 32-bit
  kSpare,     // kept only for the positions after it; never read or written
};

struct ColumnLayout {
  std::string_view name;
  ColumnKind kind;
};

struct TableLayout {
  std::string_view name;
  std::string_view key_column;
  std::span<const ColumnLayout> columns;
};

// Asset, Software, Services, LastAccess, DriveHistory.
std::span<const TableLayout> AllTableLayouts();
const TableLayout* FindTableLayout(std::string_view name);

std::string_view KindName(ColumnKind kind);

// Ordinals of the Asset row that the stages use by number.
namespace asset {
inline constexpr int kComputer = 0;
inline constexpr int kManufacturer = 1;
inline constexpr int kModel = 2;
inline constexpr int kDomain = 3;
inline constexpr int kOperatingSystem = 6;
inline constexpr int kServicePack = 7;
inline constexpr int kTotalPhysicalMemory = 17;
inline constexpr int kLastScanned = 26;
inline constexpr int kLoggedOnUser = 27;
inline constexpr int kIPAddress = 30;
inline constexpr int kFirstDriveSlot = 31;  // drive A:; six columns per letter
inline constexpr int kHistory = 92;
inline constexpr int kOSSerialNumber = 93;
// First ordinal of the slot of drive `letter` (A to J).
constexpr int DriveSlot(char letter) { return kFirstDriveSlot + 6 * (letter - 'A'); }
}  // namespace asset

}  // namespace hostlore
