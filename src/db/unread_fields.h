// A field the registry path cannot read is not an empty field. When WMI is
// unreachable, the inventory comes from the registry and the administrative
// shares, which tell nothing of some fields (boot device, description, the
// memory figures, volume names, file systems and serials, drives without an
// administrative share, which WMI alone describes) and, on some computers, nothing of others (no
// SMBIOS table, no processor key, no DNS domain). Such a field takes what
// the Asset row holds, so that it is neither recorded as changed nor
// cleared; a row that holds nothing there gets what the path read, as it
// always did.
#pragma once

#include "platform/status.h"

namespace hostlore {

struct ScanState;

// On a registry-path run (ScanState::RegistryPath), copies the stored value
// of every field this run could not read into the scan state, from the
// current row of Db.AssetRecordset. A drive taken whole from the row is
// marked Kept. Failure: a database error.
Status KeepUnreadFields(ScanState& state);

}  // namespace hostlore
