// A cache of which lab file holds which name and address, so that an agent
// started against a large lab folder reads one small index and one computer
// file instead of parsing every file of the folder.
//
// The index lives outside the lab folder (the user's cache folder, keyed by
// the folder's device and inode) and is trusted only while
// - the folder's own modification time is the one recorded (files added,
//   removed or renamed change it), and
// - it was checked against every file's size and modification time less than
//   kRecheckAfter ago; an older index is rechecked with one stat per file and
//   either confirmed or dropped. One process rechecks at a time (a lock on
//   the index); the others go on with the index as it stands meanwhile.
// An index is written only for a folder whose files are all at least
// kSettleTime old, so that a file rewritten within the file system's clock
// tick can never look unchanged. Tests that write a lab and load it at once
// therefore always take the full load.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hostlore {

// Smaller labs load in a few milliseconds and get no index (and leave no
// cache files behind).
inline constexpr size_t kIndexMinFiles = 100;
inline constexpr std::chrono::seconds kRecheckAfter{10};
inline constexpr std::chrono::seconds kSettleTime{2};

// One lab file as the full load saw it.
struct LabIndexEntry {
  std::string file;               // name inside the folder
  std::vector<std::string> keys;  // identity keys: "address a.b.c.d", "name lowercase"
};

class LabIndex {
 public:
  // The trusted index of `folder`, or nullopt (none, stale, unreadable).
  static std::optional<LabIndex> Open(const std::string& folder);
  // Writes the index of `folder` after a full load, when the folder has
  // settled and holds at least kIndexMinFiles files; best effort: any
  // failure leaves no index.
  static void Write(const std::string& folder, const std::vector<LabIndexEntry>& entries);

  // The file that holds identity key `key`; nullopt: no file does.
  std::optional<std::string> FileFor(std::string_view key) const;

  // Whether `file` of `folder` still has the size and time it was indexed
  // with; false also when it cannot be examined or is not in the index.
  bool Unchanged(const std::string& folder, const std::string& file) const;

 private:
  explicit LabIndex(std::string text) : text_(std::move(text)) {}
  std::string text_;  // "\n" + one line per file: NAME \t SIZE \t MTIME \t KEY...
};

}  // namespace hostlore
