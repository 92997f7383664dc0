#include "db/compare_software_lists.h"

#include <algorithm>

#include "db/history_text.h"
#include "db/software_list_text.h"
#include "scan/scan_state.h"
#include "util/text.h"

namespace hostlore {
namespace {

const SoftwareRow* FindByName(const ListView& view, const std::string& name) {
  for (const SoftwareRow& row : view.Rows) {
    if (row[0] == name) return &row;
  }
  return nullptr;
}

}  // namespace

void FillSoftwareRows(ScanState& state, ListView& view, const std::string& list) {
  state.SoftwareListRest.clear();
  SoftwareListRows parsed = ParseSoftwareList(list);
  view.Rows = std::move(parsed.rows);
  if (!parsed.complete) return;  // the rows stay in list order
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
