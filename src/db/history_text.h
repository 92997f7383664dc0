// The Asset history column (ordinal 92): records of time stamp + "~" +
// message + "^", oldest first. Every writer appends through here, and every
// reader splits it here.
#pragma once

#include <string>
#include <string_view>
#include <vector>

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

struct HistoryRecord {
  std::string time;     // "YYYY/MM/DD HH:MM:SS" as stored; empty when the record has none
  std::string message;
};

// The records of a history text, oldest first. A record starts with a time
// stamp and "~"; a piece between two "^" that does not is part of the
// message before it (a stored value that held a "^"), or, at the start of
// the text, a record of its own without a time. Empty pieces are skipped.
std::vector<HistoryRecord> ParseHistory(std::string_view text);

// True when `text` begins with a time stamp: four digits, a separator, two
// digits, a separator, two digits, a blank, and three pairs of digits with
// separators between them.
bool StartsWithTimeStamp(std::string_view text);

}  // namespace hostlore
