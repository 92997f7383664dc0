// Without a terminal (CI, cron, a pipe): one line per finished target, flushed
// at once, so that a log shows progress even when the fleet is killed.
#include <cstdio>

#include "fleet/fleet_view.h"
#include "fleet/run_line.h"

namespace hostlore::fleet {
namespace {

class PlainView final : public FleetView {
 public:
  void Refresh(const FleetState&) override {}
  void Finished(const TargetRun& run) override {
    std::printf("%s\n", FinishedLine(run).c_str());
    std::fflush(stdout);
  }
  void Close(const FleetState&) override {}
};

}  // namespace

std::unique_ptr<FleetView> NewPlainView() { return std::make_unique<PlainView>(); }

}  // namespace hostlore::fleet
