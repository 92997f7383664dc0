// The database part of the scan state: the connection of the run, the open
// result sets, the queries that the open routines open, and the flags and
// working text of the update run.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "platform/database/database.h"

namespace hostlore {

// Connects to the database that a server field names. Tests put a wrapper
// here to inject faults; empty means ConnectDatabase (db/connect.h).
using DatabaseConnector = std::function<Result<std::unique_ptr<Database>>(std::string_view)>;

struct DatabaseState {
  DatabaseConnector Connector;

  // One connection serves the whole run: opened at the first open routine,
  // dropped after a failure so that the next open connects afresh.
  std::unique_ptr<Database> Connection;

  TableQuery AssetQuery;
  TableQuery SoftwareQuery;
  TableQuery ServicesQuery;
  std::unique_ptr<RecordSet> AssetRecordset;
  std::unique_ptr<RecordSet> SoftwareRecordset;
  std::unique_ptr<RecordSet> ServicesRecordset;
  std::unique_ptr<RecordSet> DriveHistoryRecordset;

  bool NewAssetRecord = false;  // this run created the Asset row
  bool AssetRowEmpty = false;   // stored Asset ordinals 1 to 20 all Null or empty
  std::string AssetHistory;     // working copy of the history column
};

}  // namespace hostlore
