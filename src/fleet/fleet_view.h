// What the runner shows while it works: a live view on a terminal, or one
// plain line per finished target.
#pragma once

#include <memory>

#include "fleet/fleet_state.h"

namespace hostlore::fleet {

class FleetView {
 public:
  virtual ~FleetView() = default;
  // The state changed or time passed; called often (a view throttles itself).
  virtual void Refresh(const FleetState& state) = 0;
  // `run` has just finished.
  virtual void Finished(const TargetRun& run) = 0;
  // The fleet is done: leave the terminal ready for the summary.
  virtual void Close(const FleetState& state) = 0;
};

// One line per finished target on standard output; Refresh does nothing.
std::unique_ptr<FleetView> NewPlainView();

// The ncurses live view on the terminal of standard output. nullptr when
// standard output is not a terminal ncurses can drive.
std::unique_ptr<FleetView> NewLiveView();

}  // namespace hostlore::fleet
