#include "db/compare_software_lists.h"

#include <algorithm>

#include "db/history_text.h"
#include "scan/scan_state.h"
#include "util/text.h"

namespace hostlore {
namespace {

constexpr std::string_view kSection = "\xC2\xA7";  // "§" in UTF-8

using SoftwareRow = std::array<std::string, 4>;  // name, version, location, product id

SoftwareRow SplitEntry(std::string_view entry) {
  SoftwareRow row;
  for (size_t field = 0; field < 3; ++field) {
    const size_t mark = entry.find(kSection);
    if (mark == std::string_view::npos) {
      row[field] = std::string(entry);
      return row;
    }
    row[field] = std::string(entry.substr(0, mark));
    entry.remove_prefix(mark + kSection.size());
  }
  row[3] = std::string(entry);
  return row;
}

const SoftwareRow* FindByName(const ListView& view, const std::string& name) {
  for (const SoftwareRow& row : view.Rows) {
    if (row[0] == name) return &row;
  }
  return nullptr;
}

}  // namespace

std::string StripSectionMarks(std::string_view text) {
  std::string out;
  for (size_t mark; (mark = text.find(kSection)) != std::string_view::npos;) {
    out += text.substr(0, mark);
    text.remove_prefix(mark + kSection.size());
  }
  out += text;
  return out;
}

void FillSoftwareRows(ScanState& state, ListView& view, const std::string& list) {
  view.Rows.clear();
  std::string& rest = state.SoftwareListRest;
  rest = list;
  if (rest.empty()) return;
  do {
    const size_t mark = rest.find('^');
    const std::string entry = mark == std::string::npos ? rest : rest.substr(0, mark);
    if (entry.empty()) {
      rest.clear();
      return;  // the rows stay in list order
    }
    rest = mark == std::string::npos ? std::string() : rest.substr(mark + 1);
    SoftwareRow row = SplitEntry(entry);
    if (!row[0].empty()) view.Rows.push_back(std::move(row));
  } while (CountCharacters(rest) > 1);
  rest.clear();
  std::stable_sort(view.Rows.begin(), view.Rows.end(), [](const SoftwareRow& a, const SoftwareRow& b) {
    return CompareIgnoreCase(a[0], b[0]) < 0;
  });
}

Status RecordSoftwareChanges(ScanState& state) {
  const ListView& stored = state.Lists.ListView1;
  const ListView& fresh = state.Lists.ListView2;
  static constexpr std::string_view kChanged[] = {"", " Version changed from ",
                                                  " Location changed from ",
                                                  " Product ID changed from "};
  for (const SoftwareRow& old_row : stored.Rows) {
    const SoftwareRow* new_row = FindByName(fresh, old_row[0]);
    if (new_row == nullptr) {
      const std::string message = "Software removed : " + StripSectionMarks(old_row[0]);
      if (Status s = AppendHistoryRecord(state, message, HistoryTrim::kKeep); !s.ok()) return s;
      continue;
    }
    for (size_t field = 1; field < 4; ++field) {
      if (old_row[field] == (*new_row)[field]) continue;
      std::string message = old_row[0];
      message += kChanged[field];
      message += old_row[field] + " To " + (*new_row)[field];
      if (Status s = AppendHistoryRecord(state, message, HistoryTrim::kKeep); !s.ok()) return s;
    }
  }
  for (const SoftwareRow& new_row : fresh.Rows) {
    if (FindByName(stored, new_row[0]) != nullptr) continue;
    const std::string message = "New Software installed : " + StripSectionMarks(new_row[0]);
    if (Status s = AppendHistoryRecord(state, message, HistoryTrim::kKeep); !s.ok()) return s;
  }
  return Status::Ok();
}

Status CompareSoftwareLists(ScanState& state, const std::string& stored_list,
                            const std::string& new_list) {
  if (new_list == stored_list) return Status::Ok();
  FillSoftwareRows(state, state.Lists.ListView1, stored_list);
  FillSoftwareRows(state, state.Lists.ListView2, new_list);
  return RecordSoftwareChanges(state);
}

}  // namespace hostlore
