#include "fleet/contact_recorder.h"

#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
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

// Frames on the channel: a 32-bit length, then the bytes.
bool WriteFrame(int fd, const std::string& text) {
  const uint32_t size = static_cast<uint32_t>(text.size());
  std::string frame(reinterpret_cast<const char*>(&size), sizeof size);
  frame += text;
  for (size_t sent = 0; sent < frame.size();) {
    const ssize_t n = ::send(fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

bool ReadExactly(int fd, char* into, size_t size) {
  for (size_t got = 0; got < size;) {
    const ssize_t n = ::read(fd, into + got, size - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return true;
}

bool ReadFrame(int fd, std::string& text) {
  uint32_t size = 0;
  if (!ReadExactly(fd, reinterpret_cast<char*>(&size), sizeof size)) return false;
  text.resize(size);
  return ReadExactly(fd, text.data(), size);
}

// The recorder's one connection, lent to every record.
class LentDatabase final : public Database {
 public:
  explicit LentDatabase(Database& owner) : owner_(owner) {}
  Result<std::unique_ptr<RecordSet>> Open(const TableQuery& query) override { return owner_.Open(query); }
  Status BeginTransaction(std::string_view serial_key) override {
    return owner_.BeginTransaction(serial_key);
  }
  Status CommitTransaction() override { return owner_.CommitTransaction(); }
  void RollbackTransaction() override { owner_.RollbackTransaction(); }

 private:
  Database& owner_;
};

std::string TakeLogLines(const std::filesystem::path& log) {
  std::string lines;
  {
    std::ifstream in(log, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) lines += line + "\n";  // a log line holds no line break
    }
  }
  std::error_code ignored;
  std::filesystem::remove(log, ignored);
  return lines;
}

// Records the contact with `name` as the agent does after an unanswered
// echo. Returns "" when recorded, otherwise the log lines of the failure.
std::string Record(const std::string& server, const std::filesystem::path& temp_folder,
                   std::unique_ptr<Database>& connection, const std::string& name) {
  // The agent's scan state after its echo: the command-line name, no
  // address, no progress channel (the "Complete" line of a failure has no
  // reader), the log in the recorder's folder.
  auto state = std::make_unique<ScanState>();
  state->TargetName = name;
  state->SqlServer = server;
  state->TempDir = temp_folder.string();
  state->platform.clock = NewSystemClock();
  state->Db.Connector = [&connection](std::string_view field) -> Result<std::unique_ptr<Database>> {
    if (!connection) {
      Result<std::unique_ptr<Database>> connected = ConnectDatabase(field);
      if (!connected.ok()) return connected.status();
      connection = std::move(connected).value();
    }
    return std::unique_ptr<Database>(std::make_unique<LentDatabase>(*connection));
  };
  try {
    UpdateLastAccess(*state);
    return "";
  } catch (const ProcessEnd&) {
    // The failure path has logged its line.
  } catch (const std::exception& failure) {
    LogError(*state, "Hostlore.Scan", name + ":" + failure.what());
  }
  // As after an agent's failure, the next record connects afresh.
  state.reset();
  connection.reset();
  return TakeLogLines(temp_folder / "Kelvarn.log");
}

// The child: a record for every name that comes, until the channel closes.
[[noreturn]] void RecordInChild(const std::string& server, const std::filesystem::path& temp_folder, int channel) {
  // The runner alone answers Ctrl-C; this process ends when its channel does.
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) std::signal(signal, SIG_IGN);
  std::unique_ptr<Database> connection;
  int exit_status = 0;
  try {
    for (std::string name; ReadFrame(channel, name);) {
      const std::string failure = Record(server, temp_folder, connection, name);
      if (!WriteFrame(channel, failure.empty() ? "+" : "-" + failure)) break;
    }
  } catch (...) {
    exit_status = 1;
  }
  ::_exit(exit_status);
}

}  // namespace

Result<std::unique_ptr<ContactRecorder>> ContactRecorder::Start(const std::string& server,
                                                                const std::filesystem::path& temp_folder) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    return Status::Failure(errno, std::string("contact recorder: socketpair: ") + std::strerror(errno));
  }
  UniqueFd ours(ends[0]);
  UniqueFd theirs(ends[1]);
  const pid_t child = ::fork();
  if (child < 0) return Status::Failure(errno, std::string("contact recorder: fork: ") + std::strerror(errno));
  if (child == 0) {
    ours.reset();
    RecordInChild(server, temp_folder, theirs.get());
  }
  return std::unique_ptr<ContactRecorder>(new ContactRecorder(child, std::move(ours)));
}

ContactRecorder::ContactRecorder(pid_t child, UniqueFd channel)
    : child_(child),
      channel_(std::move(channel)),
      event_(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)),
      thread_([this] { Work(); }) {}

ContactRecorder::~ContactRecorder() {
  Stop();
  thread_.join();
  channel_.reset();
  while (::waitpid(child_, nullptr, 0) < 0 && errno == EINTR) {
  }
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
    Recorded recorded{next.first, true, {}};
    std::string reply;
    if (!WriteFrame(channel_.get(), next.second) || !ReadFrame(channel_.get(), reply) || reply.empty()) {
      reply = "-Error updating last access database," + next.second + ":the contact recorder ended\n";
    }
    if (reply[0] == '-') {
      recorded.ok = false;
      for (size_t start = 1, end; (end = reply.find('\n', start)) != std::string::npos; start = end + 1) {
        recorded.log_lines.push_back(reply.substr(start, end - start));
      }
    }
    {
      std::lock_guard lock(mutex_);
      finished_.push_back(std::move(recorded));
      busy_ = false;
    }
    const uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = ::write(event_.get(), &one, sizeof one);
  }
}

}  // namespace hostlore::fleet
