// Software change detection: the stored and the new software list texts are
// parsed into the two list views and every installed, removed or changed
// program becomes a record in the Asset history.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "db/software_list_text.h"
#include "platform/status.h"

namespace hostlore {

struct ScanState;
struct ListView;

// Nothing happens when both texts are equal. Otherwise ListView1 receives
// the stored list, ListView2 the new one, and RecordSoftwareChanges runs.
// Failure: a history record could not be written; records already written
// stay.
Status CompareSoftwareLists(ScanState& state, const std::string& stored_list,
                            const std::string& new_list);

// Fills `view` from a list text: entries split at "^", fields at "§" (name,
// version, location, the rest as product id). An empty entry ends the
// filling at once and leaves the rows in list order; otherwise the rows end
// sorted by name (letter case ignored, equal names in list order). A
// remainder of one character after the last "^" is not read; entries without
// a name are skipped.
void FillSoftwareRows(ScanState& state, ListView& view, const std::string& list);

// Pass one over the stored rows: version, location and product id changes,
// and removed programs; pass two over the new rows: installed programs.
// Names match exactly; a name that occurs twice matches the first row of the
// other list. Records are appended untrimmed.
Status RecordSoftwareChanges(ScanState& state);

}  // namespace hostlore
