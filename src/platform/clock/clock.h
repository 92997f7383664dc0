// The clock seam: the time of day for time stamps, and waiting.
#pragma once

#include <chrono>
#include <ctime>
#include <memory>

namespace hostlore {

class Clock {
 public:
  Clock() = default;
  Clock(const Clock&) = delete;
  Clock& operator=(const Clock&) = delete;
  virtual ~Clock() = default;

  // Seconds since the epoch; time stamps render it in the host's local time
  // zone (TZ is respected).
  virtual std::time_t Now() = 0;
  // Blocks the calling thread for `duration`.
  virtual void Sleep(std::chrono::milliseconds duration) = 0;
};

// The real clock of this host.
std::unique_ptr<Clock> NewSystemClock();

}  // namespace hostlore
