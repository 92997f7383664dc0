// Reading the Asset history column: records of time stamp + "~" + message
// + "^", oldest first, as history_text.h appends them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace hostlore {

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
