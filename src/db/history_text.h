// The Asset history column (ordinal 92): records of time stamp + "~" +
// message + "^", oldest first. Every writer appends through here
// (history_records.h reads them).
#pragma once

#include <string_view>

#include "platform/status.h"

namespace hostlore {

struct ScanState;

// The longest history, in characters, that an asset comparison leaves.
inline constexpr size_t kMaxHistoryCharacters = 3000;

enum class HistoryTrim { kTrim, kKeep };

// Db.AssetHistory = the stored history (Null counts as empty) + the current
// time stamp + "~" + `message` + "^"; with kTrim, the oldest records are then
// dropped until at most kMaxHistoryCharacters remain. The text is written to
// the current Asset row at once. Failure: reading or writing the column.
Status AppendHistoryRecord(ScanState& state, std::string_view message, HistoryTrim trim);

// Drops the oldest record of Db.AssetHistory: everything up to and including
// its first "^" (the whole text when there is none).
void TrimHistory(ScanState& state);

}  // namespace hostlore
