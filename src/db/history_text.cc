#include "db/history_text.h"

#include <string>

#include "db/table_layout.h"
#include "diag/time_stamp.h"
#include "scan/scan_state.h"
#include "util/text.h"

namespace hostlore {
namespace {

constexpr size_t kTimeStampLength = 19;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

bool StartsWithTimeStamp(std::string_view text) {
  if (text.size() < kTimeStampLength) return false;
  // Positions of the digits in "YYYY/MM/DD HH:MM:SS"; the others are separators.
  static constexpr std::string_view kPattern = "dddd/dd/dd dd:dd:dd";
  for (size_t i = 0; i < kTimeStampLength; ++i) {
    const bool digit = IsDigit(text[i]);
    if ((kPattern[i] == 'd') != digit) return false;
  }
  return text[10] == ' ';
}

std::vector<HistoryRecord> ParseHistory(std::string_view text) {
  std::vector<HistoryRecord> records;
  while (!text.empty()) {
    const size_t end = text.find('^');
    const std::string_view piece = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    if (piece.empty()) continue;
    if (StartsWithTimeStamp(piece) && piece.size() > kTimeStampLength && piece[kTimeStampLength] == '~') {
      records.push_back({std::string(piece.substr(0, kTimeStampLength)),
                         std::string(piece.substr(kTimeStampLength + 1))});
    } else if (!records.empty()) {
      records.back().message += '^';
      records.back().message += piece;
    } else {
      records.push_back({std::string(), std::string(piece)});
    }
  }
  return records;
}

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
