// Looking up the targets' names on a few threads at once.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/echo/echo.h"
#include "util/unique_fd.h"

namespace hostlore::fleet {

class NameResolver {
 public:
  using Lookup = std::function<std::optional<Ipv4Address>(const std::string&)>;

  struct Resolved {
    size_t index = 0;  // into the names
    std::optional<Ipv4Address> address;
  };

  // Starts `threads` threads that look up `names`, in their order, through
  // `lookup`, which must be safe to call from several threads at once.
  // `names` and `lookup` must outlive the resolver.
  NameResolver(const std::vector<std::string>& names, const Lookup& lookup, int threads);
  // Stops, and waits for the lookups under way (a name server's timeout at
  // worst).
  ~NameResolver();
  NameResolver(const NameResolver&) = delete;
  NameResolver& operator=(const NameResolver&) = delete;

  // Readable while looked-up names wait to be taken.
  int fd() const { return event_.get(); }
  // The names looked up since the last call, in no particular order.
  std::vector<Resolved> Take();
  // No name is looked up after those under way.
  void Stop() { stopped_ = true; }
  // Every name has been looked up and taken.
  bool Done() const { return taken_ == names_.size(); }

 private:
  void Work();

  const std::vector<std::string>& names_;
  const Lookup& lookup_;
  UniqueFd event_;
  std::atomic<size_t> next_{0};
  std::atomic<bool> stopped_{false};
  std::mutex mutex_;
  std::vector<Resolved> results_;  // guarded by mutex_
  size_t taken_ = 0;
  std::vector<std::thread> threads_;
};

}  // namespace hostlore::fleet
