#include "collect/service_list.h"

#include <cmath>

#include "collect/reg_reader.h"
#include "diag/log_error.h"
#include "diag/message_box.h"
#include "scan/scan_state.h"
#include "util/text.h"

namespace hostlore {
namespace {

// Each display name passes through a buffer of this many characters.
constexpr size_t kNameBufferCharacters = 250;
// The size of one enumeration record; buffers are sized in whole records.
constexpr uint32_t kRecordBytes = 36;

void Report(ScanState& state, ServiceReport report, const std::string& box_text) {
  if (report == ServiceReport::kLog) {
    LogError(state, "Error listing services", state.TargetName + ":" + state.LastFailure.description);
  } else {
    ShowMessageBox(box_text);
  }
}

}  // namespace

void ListServices(ScanState& state, ServiceReport report) {
  Result<std::unique_ptr<ServiceControlManager>> manager =
      state.platform.services->Open(state.TargetAddress);
  if (!manager.ok()) return;

  const ServiceSizeQuery size = manager.value()->QuerySize();
  if (size.error != win32::kMoreData) {
    Report(state, report, "LastDLLError = " + std::to_string(size.error));
    return;
  }
  // One record more than the bytes needed would fill, rounded half to even.
  const double records = std::nearbyint(size.bytes_needed / double{kRecordBytes} + 1);
  const auto buffer_bytes = static_cast<uint32_t>(records) * kRecordBytes;

  Result<std::vector<std::string>> names = manager.value()->ListDisplayNames(buffer_bytes);
  if (!names.ok()) {
    Report(state, report,
           "EnumServicesStatus failed. LastDllError = " + std::to_string(names.status().number()));
    return;
  }
  for (const std::string& display_name : names.value()) {
    const std::string name = TrimNull(FirstCharacters(display_name, kNameBufferCharacters));
    if (!name.empty()) state.ServicesList += name + "^";
  }
  if (!state.ServicesList.empty()) state.ServicesList.pop_back();
}

}  // namespace hostlore
