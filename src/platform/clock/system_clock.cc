#include "platform/clock/clock.h"

#include <thread>

namespace hostlore {
namespace {

class SystemClock final : public Clock {
 public:
  std::time_t Now() override { return std::time(nullptr); }
  void Sleep(std::chrono::milliseconds duration) override {
    std::this_thread::sleep_for(duration);
  }
};

}  // namespace

std::unique_ptr<Clock> NewSystemClock() { return std::make_unique<SystemClock>(); }

}  // namespace hostlore
