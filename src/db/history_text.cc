#include "db/history_text.h"

#include <string>

#include "db/table_layout.h"
#include "diag/time_stamp.h"
#include "scan/scan_state.h"
#include "util/text.h"

namespace hostlore {
void TrimHistory(ScanState& state) {
  std::string& history = state.Db.AssetHistory;
  const size_t mark = history.find('^');
  history = mark == std::string::npos ? std::string() : history.substr(mark + 1);
}

Status AppendHistoryRecord(ScanState& state, std::string_view message, HistoryTrim trim) {
  RecordSet& asset = *state.Db.AssetRecordset;
  Result<FieldValue> stored = asset.Field(asset::kHistory);
  if (!stored.ok()) return stored.status();
  std::string history;
  if (!stored->is_null()) {
    Result<std::string> text = ValueAsText(stored.value());
    if (!text.ok()) return text.status();
    history = std::move(text).value();
  }
  history += FormatTimeStamp(state.platform.clock->Now());
  history += '~';
  history += message;
  history += '^';
  state.Db.AssetHistory = std::move(history);
  if (trim == HistoryTrim::kTrim) {
    // Each pass drops at least one character, so the loop ends.
    while (CountCharacters(state.Db.AssetHistory) > kMaxHistoryCharacters) TrimHistory(state);
  }
  return asset.Update(asset::kHistory, FieldValue(state.Db.AssetHistory));
}

}  // namespace hostlore
