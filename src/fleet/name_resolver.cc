#include "fleet/name_resolver.h"

#include <sys/eventfd.h>

#include <cstdint>

namespace hostlore::fleet {

NameResolver::NameResolver(const std::vector<std::string>& names, const Lookup& lookup, int threads)
    : names_(names), lookup_(lookup), event_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
  const size_t count = std::min(names.size(), static_cast<size_t>(std::max(threads, 1)));
  for (size_t i = 0; i < count; ++i) threads_.emplace_back([this] { Work(); });
}

NameResolver::~NameResolver() {
  Stop();
  for (std::thread& thread : threads_) thread.join();
}

void NameResolver::Work() {
  for (size_t index; !stopped_ && (index = next_++) < names_.size();) {
    Resolved resolved{index, lookup_(names_[index])};
    {
      std::lock_guard lock(mutex_);
      results_.push_back(resolved);
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(event_.get(), &one, sizeof one);
  }
}

std::vector<NameResolver::Resolved> NameResolver::Take() {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t read = ::read(event_.get(), &count, sizeof count);
  std::vector<Resolved> taken;
  {
    std::lock_guard lock(mutex_);
    taken.swap(results_);
  }
  taken_ += taken.size();
  return taken;
}

}  // namespace hostlore::fleet
