#include "db/open_tables.h"

#include <string>

#include "db/connect.h"
#include "diag/log_error.h"
#include "diag/report_progress.h"
#include "scan/process_end.h"
#include "scan/scan_state.h"

namespace hostlore {
namespace {

[[noreturn]] void FailOpen(ScanState& state, const std::string& what, const std::string& detail) {
  DropRunConnection(state);
  LogError(state, what, detail);
  ReportFailureComplete(state);
  EndProcess(state);
}

void OpenTable(ScanState& state, const TableQuery& query, std::unique_ptr<RecordSet>& into,
               const std::string& word) {
  into.reset();
  Result<Database*> connection = RunConnection(state);
  if (!connection.ok()) {
    FailOpen(state, "Error updating database (" + word + ")",
             state.TargetName + ":" + connection.status().description());
  }
  Result<std::unique_ptr<RecordSet>> opened = connection.value()->Open(query);
  if (!opened.ok()) {
    FailOpen(state, "Error updating database (" + word + ")",
             state.TargetName + ":" + opened.status().description());
  }
  if (opened.value()->RecordCount() == -1) {
    // No failure preceded this one, so there is no description to add.
    FailOpen(state, "Error connecting to SQL database (" + word + ")", state.ConnectionString + " ");
  }
  into = std::move(opened).value();
}

}  // namespace

Result<Database*> RunConnection(ScanState& state) {
  if (!state.Db.Connection) {
    Result<std::unique_ptr<Database>> connected =
        state.Db.Connector ? state.Db.Connector(state.SqlServer) : ConnectDatabase(state.SqlServer);
    if (!connected.ok()) return connected.status();
    state.Db.Connection = std::move(connected).value();
  }
  return state.Db.Connection.get();
}

void DropRunConnection(ScanState& state) {
  // The result sets share the connection and may outlive this reset: the
  // rollback cannot wait for the connection's end.
  if (state.Db.Connection) state.Db.Connection->RollbackTransaction();
  state.Db.Connection.reset();
}

Database& UpdateRunConnection(ScanState& state) {
  Result<Database*> connection = RunConnection(state);
  if (!connection.ok()) {
    FailOpen(state, "Error updating database (Asset)", state.TargetName + ":" + connection.status().description());
  }
  return *connection.value();
}

void OpenAssetTable(ScanState& state) {
  OpenTable(state, state.Db.AssetQuery, state.Db.AssetRecordset, "Asset");
}

void OpenSoftwareTable(ScanState& state) {
  OpenTable(state, state.Db.SoftwareQuery, state.Db.SoftwareRecordset, "Software");
}

void OpenServicesTable(ScanState& state) {
  OpenTable(state, state.Db.ServicesQuery, state.Db.ServicesRecordset, "Services");
}

}  // namespace hostlore
