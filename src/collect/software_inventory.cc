#include "collect/software_inventory.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>

#include "collect/reg_reader.h"
#include "diag/log_error.h"
#include "diag/report_progress.h"
#include "scan/scan_state.h"
#include "util/shortest_decimal.h"
#include "util/text.h"
#include "util/unique_fd.h"

namespace hostlore {
namespace {

constexpr const char* kUninstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const char* kWow64UninstallKey =
    "Software\\Wow6432Node\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
constexpr const char* kUserDataKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Installer\\userdata";
constexpr const char* kSection = "\xC2\xA7";  // "§", the field separator
// An entry of fewer characters holds no value at all.
constexpr size_t kMinimumEntryCharacters = 6;

// Walks the uninstall loop's progress: from 50, one step per subkey, a line
// each time the level has risen a whole point above the last line.
class UninstallProgress {
 public:
  explicit UninstallProgress(size_t subkeys)
      : step_(subkeys > 1 ? 40.0 / static_cast<double>(subkeys - 1) : 40.0) {}

  // The step to send for the next subkey, or empty text.
  std::string Next() {
    level_ += step_;
    if (level_ - reported_ < 1) return {};
    reported_ += 1;
    return FormatShortestDecimal(level_);
  }

 private:
  double step_;
  double level_ = 50;
  double reported_ = 50;
};

// An uninstall key of one of the views that Programs and Features shows,
// with the names of its subkeys.
struct UninstallView {
  Hive hive;
  std::string key;
  std::vector<std::string> subkeys;
};

std::string ReadValue(ScanState& state, Hive hive, const std::string& key, const char* name) {
  return ReadRegValue(state, state.TargetAddress, hive, key, name, state.RegValueType);
}

std::string JoinValues(ScanState& state, Hive hive, const std::string& key,
                       std::initializer_list<const char*> names) {
  std::string entry;
  bool first = true;
  for (const char* name : names) {
    if (!first) entry += kSection;
    entry += ReadValue(state, hive, key, name);
    first = false;
  }
  return entry;
}

void ReadUninstallEntries(ScanState& state, Hive hive, const std::string& uninstall_key,
                          const std::vector<std::string>& subkeys, UninstallProgress& progress) {
  for (const std::string& name : subkeys) {
    if (std::string step = progress.Next(); !step.empty()) ReportStep(state, step);
    const std::string key = uninstall_key + "\\" + name;
    std::string entry = JoinValues(
        state, hive, key, {"DisplayName", "DisplayVersion", "InstallLocation", "ProductID"});
    entry += kSection;
    entry += kSection;
    if (ReadValue(state, hive, key, "UninstallString").empty()) continue;
    state.Lists.List2.Add(std::move(entry));
  }
}

// The views beyond the uninstall key itself: 32-bit programs on a 64-bit
// Windows, and the programs each loaded user profile installed for itself
// (user hives are the S-1-5-21 SIDs under HKEY_USERS; their "_Classes"
// companions hold no software), 64-bit and 32-bit.
std::vector<UninstallView> FurtherUninstallViews(ScanState& state) {
  std::vector<UninstallView> views;
  views.push_back({Hive::kLocalMachine, kWow64UninstallKey, {}});
  std::vector<std::string> hives;
  EnumRegKeys(state, state.TargetAddress, Hive::kUsers, "", hives);
  for (const std::string& sid : hives) {
    if (!sid.starts_with("S-1-5-21-") || sid.ends_with("_Classes")) continue;
    views.push_back({Hive::kUsers, sid + "\\" + kUninstallKey, {}});
    views.push_back({Hive::kUsers, sid + "\\" + kWow64UninstallKey, {}});
  }
  for (UninstallView& view : views) {
    EnumRegKeys(state, state.TargetAddress, view.hive, view.key, view.subkeys);
  }
  return views;
}

void ReadInstallerEntries(ScanState& state) {
  WorkLists& lists = state.Lists;
  EnumRegKeys(state, state.TargetAddress, Hive::kLocalMachine, kUserDataKey, lists.List3);
  for (const std::string& profile : lists.List3) {
    const std::string products = std::string(kUserDataKey) + "\\" + profile + "\\Products";
    // List4 gathers the products of every profile; each profile walks all
    // of it, as the inventory always has.
    EnumRegKeys(state, state.TargetAddress, Hive::kLocalMachine, products, lists.List4);
    for (const std::string& product : lists.List4) {
      const std::string key = products + "\\" + product + "\\InstallProperties";
      lists.List2.Add(JoinValues(state, Hive::kLocalMachine, key,
                                 {"DisplayName", "DisplayVersion", "InstallLocation", "ProductID",
                                  "RegCompany", "RegOwner"}));
    }
  }
}

std::string_view ProgramName(const std::string& entry) {
  return std::string_view(entry).substr(0, entry.find(kSection));
}

void DropEmptyAndDuplicateEntries(SortedList& entries) {
  for (size_t i = entries.size(); i-- > 0;) {
    if (CountCharacters(entries[i]) < kMinimumEntryCharacters) entries.RemoveAt(i);
  }
  if (entries.size() < 2) return;
  for (size_t i = entries.size() - 1; i-- > 0;) {
    if (ProgramName(entries[i]) == ProgramName(entries[i + 1])) entries.RemoveAt(i);
  }
}

// Rewrites the dump file with one entry per CR LF line. Failure: errno text.
Status WriteDumpFile(const ScanState& state, const SortedList& entries) {
  const std::string path = state.TempDir + "/test.txt";
  std::string text;
  for (const std::string& entry : entries.entries()) text += entry + "\r\n";
  const UniqueFd dump(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  const int error = dump.valid() ? WriteAll(dump.get(), text) : errno;
  if (error != 0) return Status::Failure(error, path + ": " + std::strerror(error));
  return Status::Ok();
}

}  // namespace

std::vector<std::string> UninstallProgressSteps(size_t subkeys) {
  std::vector<std::string> steps;
  UninstallProgress progress(subkeys);
  for (size_t i = 0; i < subkeys; ++i) {
    if (std::string step = progress.Next(); !step.empty()) steps.push_back(step);
  }
  return steps;
}

void GetSoftware(ScanState& state) {
  const int reader_failures_before = state.RegistryReaderFailures;
  try {
    ReportStep(state, "35");
    EnumRegKeys(state, state.TargetAddress, Hive::kLocalMachine, kUninstallKey, state.Lists.List1);
    const std::vector<UninstallView> further = FurtherUninstallViews(state);
    ReportStep(state, "40");
    // The progress climbs over the subkeys of every view.
    size_t subkeys = state.Lists.List1.size();
    for (const UninstallView& view : further) subkeys += view.subkeys.size();
    UninstallProgress progress(subkeys);
    ReadUninstallEntries(state, Hive::kLocalMachine, kUninstallKey, state.Lists.List1, progress);
    ReadInstallerEntries(state);
    for (const UninstallView& view : further) {
      ReadUninstallEntries(state, view.hive, view.key, view.subkeys, progress);
    }
    SortedList& entries = state.Lists.List2;
    DropEmptyAndDuplicateEntries(entries);

    if (Status dumped = WriteDumpFile(state, entries); !dumped.ok()) {
      LogError(state, "Error listing software", state.TargetName + ":" + dumped.description());
    }

    std::string list;
    for (const std::string& entry : entries.entries()) list += entry + "^";
    if (list.empty()) {
      LogError(state, "Unable to access remote registry", state.TargetName + ":");
      state.SoftwareInventoryFailed = true;
      return;
    }
    list.pop_back();
    // A registry read that failed on the way makes the list incomplete.
    if (state.RegistryReaderFailures != reader_failures_before) {
      state.SoftwareInventoryFailed = true;
      return;
    }
    state.SoftwareList = std::move(list);
  } catch (const std::exception& failure) {
    LogError(state, "Error listing software", state.TargetName + ":" + failure.what());
    ReportFailureComplete(state);
    state.SoftwareInventoryFailed = true;
  }
}

}  // namespace hostlore
