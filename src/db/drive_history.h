// The drive history: per computer and drive letter C to J, one DriveHistory
// row whose text gains one "^YYYY/MM/DD,free space" record per day and drops
// its oldest records so that it stays shorter than the column's declared
// length.
#pragma once

#include <string>

#include "platform/status.h"

namespace hostlore {

struct ScanState;

// Opens (creating when missing) the row TargetName + "~" + the caption's
// first character and appends today's record. A free space of exactly 0 does
// nothing. When the row count is unknown it logs "Error connection to SQL
// database", sends "Complete" and ends the process. Failure: any other
// database error, including a failed write of the new record.
Status UpdateDriveHistory(ScanState& state, const std::string& caption, double free_space);

// Appends today's record to the current row of Db.DriveHistoryRecordset
// unless its last record is already of today, then writes TargetName into
// DiskOwner. An unreadable stored text or date counts as none. A text that
// cannot fit next to the new record keeps only the new record; when not even
// that fits, the row is left as it is. Failure: a write failed.
Status AppendDriveHistory(ScanState& state, double free_space);

}  // namespace hostlore
