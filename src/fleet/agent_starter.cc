#include "fleet/agent_starter.h"

#include <sys/eventfd.h>

#include <cstdint>
#include <utility>

namespace hostlore::fleet {

AgentStarter::AgentStarter(int threads) : event_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  for (int i = 0; i < threads; ++i) threads_.emplace_back([this] { Work(); });
}

AgentStarter::~AgentStarter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void AgentStarter::Start(int slot, AgentStart start) {
  {
    std::lock_guard lock(mutex_);
    queue_.emplace_back(slot, std::move(start));
  }
  wake_.notify_one();
}

std::vector<AgentStarter::Started> AgentStarter::Take() {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t read = ::read(event_.get(), &count, sizeof count);
  std::lock_guard lock(mutex_);
  return std::exchange(finished_, {});
}

void AgentStarter::Work() {
  for (;;) {
    std::pair<int, AgentStart> next;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      next = std::move(queue_.front());
      queue_.pop_front();
    }
    Started started{next.first, SpawnAgent(next.second)};
    {
      std::lock_guard lock(mutex_);
      finished_.push_back(std::move(started));
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(event_.get(), &one, sizeof one);
  }
}

}  // namespace hostlore::fleet
