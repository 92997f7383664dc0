// Asset change detection: before the update run overwrites the Asset row,
// every tracked value is compared with what the row still holds, and each
// difference becomes a dated record in the history column.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace hostlore {

struct ScanState;

// The 38 comparisons, in order, on the current row of Db.AssetRecordset.
// Nothing is recorded while Db.AssetRowEmpty is true. Failure: a database
// error, or a stored value that is no number where one is needed ("Type
// mismatch"); the comparisons stop there, records already written stay.
Status CompareAssetFields(ScanState& state);

// Records "label from <stored> To <new>" (or "from nothing To", "To nothing")
// when the stored text of `column` differs from `new_value`. A stored Null
// never differs; a pinned stored text (leading "^") is never compared.
Status CompareTextField(ScanState& state, int column, std::string_view new_value,
                        std::string_view label);

// The same for numbers; a new value of 0 counts as absent, and the "To
// nothing" form shows the stored number after a sign position.
Status CompareNumberField(ScanState& state, int column, double new_value, std::string_view label);

// The labels that begin the comparison's messages ("Model changed ",
// "Drive C: Size changed ", ...), in comparison order; a message is the
// label followed by "from ".
std::vector<std::string> AssetChangeLabels();

}  // namespace hostlore
