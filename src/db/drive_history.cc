#include "db/drive_history.h"

#include <cstdio>

#include "db/open_tables.h"
#include "db/table_queries.h"
#include "diag/log_error.h"
#include "diag/report_progress.h"
#include "diag/time_stamp.h"
#include "scan/process_end.h"
#include "scan/scan_state.h"
#include "util/shortest_decimal.h"
#include "util/text.h"

namespace hostlore {
namespace {

constexpr int kHistoryText = 1;
constexpr int kDiskOwner = 2;

// The first character of `text` (UTF-8), or nothing.
std::string FirstCharacter(const std::string& text) {
  if (text.empty()) return {};
  size_t end = 1;
  while (end < text.size() && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) ++end;
  return text.substr(0, end);
}

// The date of the last record: the text between the last "^" and the last
// ",". True when it reads as the same calendar day as `today` (YYYY/MM/DD).
bool LastRecordIsOf(const std::string& history, const std::string& today) {
  const size_t mark = history.rfind('^');
  const size_t comma = history.rfind(',');
  if (mark == std::string::npos || comma == std::string::npos || comma < mark) return false;
  const std::string date = history.substr(mark + 1, comma - mark - 1);
  int year = 0, month = 0, day = 0, today_year = 0, today_month = 0, today_day = 0;
  char separator1 = 0, separator2 = 0;
  char trailing = 0;
  if (std::sscanf(date.c_str(), "%d%c%d%c%d%c", &year, &separator1, &month, &separator2, &day,
                  &trailing) != 5) {
    return false;
  }
  std::sscanf(today.c_str(), "%d/%d/%d", &today_year, &today_month, &today_day);
  return year == today_year && month == today_month && day == today_day;
}

// `history` less its oldest record: the leading "^" and everything up to and
// including the next "^" go, and "^" comes back in front. A single record
// leaves nothing.
std::string DropOldestRecord(const std::string& history) {
  const size_t next = history.find('^', 1);
  if (next == std::string::npos) return {};
  return "^" + history.substr(next + 1);
}

}  // namespace

Status AppendDriveHistory(ScanState& state, double free_space) {
  RecordSet& row = *state.Db.DriveHistoryRecordset;
  std::string stored;
  if (Result<FieldValue> value = row.Field(kHistoryText); value.ok() && !value->is_null()) {
    if (Result<std::string> text = ValueAsText(value.value()); text.ok()) stored = text.value();
  }
  const std::string today = FormatDate(state.platform.clock->Now());
  if (!stored.empty() && LastRecordIsOf(stored, today)) return Status::Ok();

  const Result<int64_t> declared = row.DefinedSize(kHistoryText);
  const int64_t limit = declared.ok() ? declared.value() : kUnlimitedLength;
  const std::string record = "^" + today + "," + FormatShortestDecimal(free_space);
  if (static_cast<int64_t>(CountCharacters(record)) >= limit) return Status::Ok();
  while (static_cast<int64_t>(CountCharacters(stored) + CountCharacters(record)) >= limit) {
    stored = DropOldestRecord(stored);
  }
  if (Status s = row.Update(kHistoryText, FieldValue(stored + record)); !s.ok()) return s;
  return row.Update(kDiskOwner, FieldValue(state.TargetName));
}

Status UpdateDriveHistory(ScanState& state, const std::string& caption, double free_space) {
  if (free_space == 0) return Status::Ok();
  Result<Database*> connection = RunConnection(state);
  if (!connection.ok()) return connection.status();
  const TableQuery query = DriveHistoryRowQuery(state.TargetName + "~" + FirstCharacter(caption));
  std::unique_ptr<RecordSet>& row = state.Db.DriveHistoryRecordset;
  row.reset();
  Result<std::unique_ptr<RecordSet>> opened = connection.value()->Open(query);
  if (!opened.ok()) return opened.status();
  row = std::move(opened).value();
  if (row->RecordCount() == -1) {
    LogError(state, "Error connection to SQL database", state.ConnectionString + " ");
    ReportFailureComplete(state);
    EndProcess(state);
  }
  if (row->RecordCount() == 0) {
    if (Status s = row->AddNew(0, FieldValue(*query.key)); !s.ok()) return s;
    row->Close();
    opened = connection.value()->Open(query);
    if (!opened.ok()) return opened.status();
    row = std::move(opened).value();
  }
  return AppendDriveHistory(state, free_space);
}

}  // namespace hostlore
