#include "probe/ping.h"

#include "diag/message_box.h"
#include "scan/scan_state.h"
#include "scan/stage_failure.h"
#include "util/text.h"

namespace hostlore {
namespace {

// The lookup buffer holds this many characters.
constexpr size_t kMaxHostNameCharacters = 64;

}  // namespace

void Ping(ScanState& state) {
  if (CountCharacters(state.TargetName) > kMaxHostNameCharacters) {
    throw StageFailure("the target name is longer than " +
                       std::to_string(kMaxHostNameCharacters) + " characters");
  }
  Echo& echo = *state.platform.echo;
  const std::optional<Ipv4Address> destination = echo.Resolve(state.TargetName);

  Result<std::unique_ptr<IcmpHandle>> handle = echo.CreateIcmpHandle();
  if (!handle.ok()) {
    ShowMessageBox("Unable to Create File Handle");
    return;
  }
  // On Linux the unspecified address 0.0.0.0 is this host itself: sending
  // there would take the scanner for the target.
  if (!destination) {
    state.PingOk = false;
    return;
  }

  const EchoReply reply = handle.value()->SendEcho(*destination, EchoRequest{});
  if (reply.replies > 0 && reply.status == 0) {
    state.PingOk = true;
    state.TargetAddress = FormatDottedAddress(reply.address);
  } else {
    state.PingOk = false;
  }
}

}  // namespace hostlore
