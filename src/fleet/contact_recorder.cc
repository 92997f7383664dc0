#include "fleet/contact_recorder.h"

#include <sys/eventfd.h>

#include <cstdint>
#include <exception>
#include <fstream>
#include <utility>

#include "db/connect.h"
#include "db/update_last_access.h"
#include "diag/log_error.h"
#include "scan/process_end.h"
#include "scan/scan_state.h"

namespace hostlore::fleet {
namespace {

// The recorder's one connection, lent to every record.
class LentDatabase final : public Database {
 public:
  explicit LentDatabase(Database& owner) : owner_(owner) {}
  Result<std::unique_ptr<RecordSet>> Open(const TableQuery& query) override { return owner_.Open(query); }

 private:
  Database& owner_;
};

std::vector<std::string> TakeLogLines(const std::filesystem::path& log) {
  std::vector<std::string> lines;
  {
    std::ifstream in(log, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) lines.push_back(std::move(line));
    }
  }
  std::error_code ignored;
  std::filesystem::remove(log, ignored);
  return lines;
}

}  // namespace

ContactRecorder::ContactRecorder(std::string server, std::filesystem::path temp_folder)
    : server_(std::move(server)),
      temp_folder_(std::move(temp_folder)),
      event_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      thread_([this] { Work(); }) {}

ContactRecorder::~ContactRecorder() {
  Stop();
  thread_.join();
}

void ContactRecorder::Add(size_t run, std::string name) {
  {
    std::lock_guard lock(mutex_);
    if (stopped_) return;
    queue_.emplace_back(run, std::move(name));
  }
  wake_.notify_one();
}

std::vector<ContactRecorder::Recorded> ContactRecorder::Take() {
  uint64_t count = 0;
  [[maybe_unused]] const ssize_t read = ::read(event_.get(), &count, sizeof count);
  std::lock_guard lock(mutex_);
  return std::exchange(finished_, {});
}

void ContactRecorder::Stop() {
  {
    std::lock_guard lock(mutex_);
    stopped_ = true;
    queue_.clear();
  }
  wake_.notify_one();
}

size_t ContactRecorder::Unfinished() const {
  std::lock_guard lock(mutex_);
  return queue_.size() + (busy_ ? 1 : 0);
}

void ContactRecorder::Work() {
  for (;;) {
    std::pair<size_t, std::string> next;
    {
      std::unique_lock lock(mutex_);
      wake_.wait(lock, [this] { return stopped_ || !queue_.empty(); });
      if (stopped_) return;
      next = std::move(queue_.front());
      queue_.pop_front();
      busy_ = true;
    }
    Recorded recorded = Record(next.first, next.second);
    {
      std::lock_guard lock(mutex_);
      finished_.push_back(std::move(recorded));
      busy_ = false;
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(event_.get(), &one, sizeof one);
  }
}

ContactRecorder::Recorded ContactRecorder::Record(size_t run, const std::string& name) {
  // A scan state as the agent's is after an unanswered echo: the command-line
  // name, no address, no progress channel (its "Complete" line has no
  // reader), the log in the recorder's folder.
  auto state = std::make_unique<ScanState>();
  state->TargetName = name;
  state->SqlServer = server_;
  state->TempDir = temp_folder_.string();
  state->platform.clock = NewSystemClock();
  state->Db.Connector = [this](std::string_view server) -> Result<std::unique_ptr<Database>> {
    if (!connection_) {
      Result<std::unique_ptr<Database>> connected = ConnectDatabase(server);
      if (!connected.ok()) return connected.status();
      connection_ = std::move(connected).value();
    }
    return std::unique_ptr<Database>(std::make_unique<LentDatabase>(*connection_));
  };
  Recorded recorded{run, true, {}};
  try {
    UpdateLastAccess(*state);
    return recorded;
  } catch (const ProcessEnd&) {
    // The failure path has logged its line.
  } catch (const std::exception& failure) {
    LogError(*state, "Hostlore.Scan", name + ":" + failure.what());
  }
  // As after an agent's failure, the next record connects afresh.
  state.reset();
  connection_.reset();
  recorded.ok = false;
  recorded.log_lines = TakeLogLines(temp_folder_ / "Kelvarn.log");
  return recorded;
}

}  // namespace hostlore::fleet
