// The connection of a run and the open routines of the Asset, Software and
// Services tables.
#pragma once

#include "platform/database/database.h"
#include "platform/status.h"

namespace hostlore {

struct ScanState;

// The run's connection, connecting on first use through Db.Connector (or
// ConnectDatabase) with SqlServer. Failure: the connection was refused; the
// next call tries again.
Result<Database*> RunConnection(ScanState& state);

// Forgets the run's connection, so that the next use connects afresh; a
// transaction still open on it is rolled back first.
void DropRunConnection(ScanState& state);

// The run's connection for the update run; when it cannot be had, logs,
// sends "Complete" and ends the process as a failed open of the Asset table
// does.
Database& UpdateRunConnection(ScanState& state);

// Open Db.AssetQuery (Db.SoftwareQuery, Db.ServicesQuery) into
// Db.AssetRecordset (...), replacing the previous result set. They return
// only with the result set open; on a failure they log "Error updating
// database (Asset)" (Software, Services) with TargetName + ":" + the
// description, or, when the count is unknown, "Error connecting to SQL
// database (Asset)" with ConnectionString + " " + the description; then send
// "Complete" and end the process.
void OpenAssetTable(ScanState& state);
void OpenSoftwareTable(ScanState& state);
void OpenServicesTable(ScanState& state);

}  // namespace hostlore
