#include "run/form.h"

#include <cstdlib>

#include "diag/log_error.h"
#include "diag/temp_folder.h"
#include "diag/report_progress.h"
#include "run/command_line.h"
#include "scan/process_end.h"
#include "run/scan.h"
#include "scan/scan_state.h"
#include "util/password_mask.h"

namespace hostlore {
namespace {

constexpr size_t kFieldCount = 5;

[[noreturn]] void MissingField(ScanState& state, size_t index) {
  FormFailurePath(state,
                  "field " + std::to_string(index) + " is missing: the command line needs " +
                      std::to_string(kFieldCount) +
                      " comma-separated fields (progress channel,target,server,[-u],caller index)",
                  kExitCommandLine);
}

}  // namespace

void FormFailurePath(ScanState& state, const std::string& description, int exit_status) {
  state.LastError = description;
  LogError(state, state.ProcName, state.ErrorContext + ":" + state.LastError);
  ReportFailureComplete(state);
  throw ProcessEnd{exit_status};
}

void FormLoad(ScanState& state) {
  state.ProcName = "Hostlore.Form_Load";
  state.ErrorContext = state.CommandLine;
  state.TempDir = ReadTempFolder();
  PrepareListViews(state.Lists);

  const std::vector<std::string> fields = SplitFields(state.CommandLine);
  const auto field = [&](size_t index) -> const std::string& {
    if (index >= fields.size()) MissingField(state, index);
    return fields[index];
  };

  const Result<int32_t> window = ParseInt32(field(0));
  if (!window.ok()) {
    FormFailurePath(state, "field 0 (progress channel): " + window.status().description(),
                    kExitCommandLine);
  }
  state.ProgressWindow = window.value();
  // Before anything is opened that could take the number of a channel that
  // the caller never opened.
  CheckProgressChannel(state);
  const std::string& target = field(1);
  state.SqlServer = field(2);
  if (field(3) == "-u") state.UserOnly = true;
  const Result<int16_t> index = ParseInt16(field(4));
  if (!index.ok()) {
    FormFailurePath(state, "field 4 (caller index): " + index.status().description(),
                    kExitCommandLine);
  }
  state.CallerIndex = index.value();
  state.TargetName = target;
  // Only ever written to the log: without the password a server field may hold.
  state.ConnectionString = BuildConnectionString(MaskPasswords(state.SqlServer));
}

void Timer1Timer(ScanState& state) {
  state.ProcName = "Hostlore.Timer1_Timer";
  state.ErrorContext = state.TargetName;
  const std::string& line = state.CommandLine;
  if (line.size() >= 2 && line.compare(line.size() - 2, 2, "-u") == 0) state.UserOnly = true;
  Scan(state);
}

}  // namespace hostlore
