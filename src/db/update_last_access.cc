#include "db/update_last_access.h"

#include <memory>
#include <string>

#include "db/open_tables.h"
#include "db/table_queries.h"
#include "diag/log_error.h"
#include "diag/report_progress.h"
#include "diag/time_stamp.h"
#include "scan/process_end.h"
#include "scan/scan_state.h"

namespace hostlore {
namespace {

[[noreturn]] void Fail(ScanState& state, const std::string& description) {
  DropRunConnection(state);
  LogError(state, "Error updating last access database", state.TargetName + ":" + description);
  ReportFailureComplete(state);
  EndProcess(state);
}

std::unique_ptr<RecordSet> OpenOrFail(ScanState& state, const TableQuery& query) {
  Result<Database*> connection = RunConnection(state);
  if (!connection.ok()) Fail(state, connection.status().description());
  Result<std::unique_ptr<RecordSet>> opened = connection.value()->Open(query);
  if (!opened.ok()) Fail(state, opened.status().description());
  // A count the engine cannot tell is a failure without a description.
  if (opened.value()->RecordCount() == -1) Fail(state, "");
  return std::move(opened).value();
}

}  // namespace

void UpdateLastAccess(ScanState& state) {
  std::unique_ptr<RecordSet> row = OpenOrFail(state, LastAccessRowQuery(state.TargetName));
  if (row->RecordCount() == 0) {
    row = OpenOrFail(state, AllLastAccessRows());
    if (Status s = row->AddNew(0, FieldValue(state.TargetName)); !s.ok()) Fail(state, s.description());
  }
  if (state.PingOk) {
    const std::string now = FormatTimeStamp(state.platform.clock->Now());
    if (Status s = row->Update(1, FieldValue(now)); !s.ok()) Fail(state, s.description());
    row->Close();
  }
  // The record is stored; the connection is not kept through the gathering,
  // which may take minutes (a server restarted meanwhile, or an idle
  // connection cut by a firewall, would fail the update run).
  row.reset();
  DropRunConnection(state);
}

}  // namespace hostlore
