#include "platform/lab/lab_echo_sweep.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <deque>
#include <unordered_map>

#include "platform/lab/lab_directory.h"
#include "util/unique_fd.h"

namespace hostlore {
namespace {

using SteadyClock = std::chrono::steady_clock;

// What a name stands for in the lab: its computer's address, and the status
// of that computer's echo reply (nullopt: no reply).
struct LabTarget {
  Ipv4Address address{};
  std::optional<uint32_t> echo_status;
};

uint32_t AddressKey(const Ipv4Address& address) {
  return (uint32_t{address[0]} << 24) | (uint32_t{address[1]} << 16) | (uint32_t{address[2]} << 8) |
         address[3];
}

// The child's side: one line per name, "-" for a name that does not
// resolve, otherwise "ADDRESS STATUS" with STATUS "t" for no reply; or a
// first line "!" + the reason the lab cannot be loaded. Then _exit.
[[noreturn]] void ResolveInChild(const std::string& folder, const std::vector<std::string>& names,
                                 int out) {
  int exit_status = 0;
  try {
    // Whole: the index answers one lookup at a time by reading all of it.
    const auto lab = LabDirectory::Load(folder, {}, /*whole=*/true);
    std::string text;
    if (!lab.ok()) {
      text = "!" + lab.status().description() + "\n";
      exit_status = 1;
    } else {
      for (const std::string& name : names) {
        const std::shared_ptr<const LabComputer> computer = lab.value()->FindHost(name);
        if (computer == nullptr) {
          text += "-\n";
          continue;
        }
        text += FormatDottedAddress(computer->address) + " " +
                (computer->echo_status ? std::to_string(*computer->echo_status) : "t") + "\n";
        if (text.size() > (1 << 16)) {
          WriteAll(out, text);
          text.clear();
        }
      }
    }
    WriteAll(out, text);
  } catch (...) {
    WriteAll(out, "!out of memory\n");
    exit_status = 1;
  }
  ::_exit(exit_status);
}

std::string ReadToEnd(int fd) {
  std::string text;
  char buffer[65536];
  for (;;) {
    const ssize_t got = ::read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return text;
    text.append(buffer, static_cast<size_t>(got));
  }
}

std::optional<LabTarget> ParseLine(std::string_view line) {
  const size_t blank = line.find(' ');
  if (blank == std::string_view::npos) return std::nullopt;
  const std::optional<Ipv4Address> address = ParseDottedAddress(line.substr(0, blank));
  if (!address) return std::nullopt;
  const std::string_view status = line.substr(blank + 1);
  if (status == "t") return LabTarget{*address, std::nullopt};
  uint32_t number = 0;
  const auto [end, error] = std::from_chars(status.data(), status.data() + status.size(), number);
  if (error != std::errc() || end != status.data() + status.size()) return std::nullopt;
  return LabTarget{*address, number};
}

class LabEchoSweep final : public EchoSweep {
 public:
  LabEchoSweep(std::unordered_map<std::string, LabTarget> by_name, const EchoRequest& request)
      : by_name_(std::move(by_name)), timeout_(request.timeout) {
    for (const auto& [name, target] : by_name_) by_address_[AddressKey(target.address)] = target.echo_status;
  }

  std::optional<Ipv4Address> Resolve(const std::string& name) override {
    const auto found = by_name_.find(name);
    if (found == by_name_.end()) return std::nullopt;
    return found->second.address;
  }

  bool Send(const Ipv4Address& destination, uint64_t tag) override {
    const auto found = by_address_.find(AddressKey(destination));
    if (destination == Ipv4Address{}) {
      due_.push_back({tag, EchoReply{}});
    } else if (found != by_address_.end() && found->second) {
      due_.push_back({tag, EchoReply{1, *found->second, destination}});
    } else {
      timeouts_.push_back({SteadyClock::now() + timeout_, tag});
    }
    return true;
  }

  std::vector<SweepAnswer> Collect() override {
    std::vector<SweepAnswer> answers = std::move(due_);
    due_.clear();
    const SteadyClock::time_point now = SteadyClock::now();
    while (!timeouts_.empty() && timeouts_.front().first <= now) {
      answers.push_back({timeouts_.front().second, EchoReply{}});
      timeouts_.pop_front();
    }
    return answers;
  }

  int WaitFd() const override { return -1; }

  std::optional<SteadyClock::time_point> NextTimeout() const override {
    if (!due_.empty()) return SteadyClock::now();
    if (timeouts_.empty()) return std::nullopt;
    return timeouts_.front().first;
  }

  size_t InFlight() const override { return due_.size() + timeouts_.size(); }

 private:
  const std::unordered_map<std::string, LabTarget> by_name_;
  std::unordered_map<uint32_t, std::optional<uint32_t>> by_address_;
  const std::chrono::milliseconds timeout_;
  std::vector<SweepAnswer> due_;
  // In the order sent, which is the order their timeouts run out.
  std::deque<std::pair<SteadyClock::time_point, uint64_t>> timeouts_;
};

}  // namespace

Result<std::unique_ptr<EchoSweep>> OpenLabEchoSweep(const std::string& folder,
                                                    const std::vector<std::string>& names,
                                                    const EchoRequest& request) {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0) {
    return Status::Failure(errno, std::string("lab echo: pipe: ") + std::strerror(errno));
  }
  UniqueFd read_end(ends[0]);
  UniqueFd write_end(ends[1]);
  const pid_t child = ::fork();
  if (child < 0) return Status::Failure(errno, std::string("lab echo: fork: ") + std::strerror(errno));
  if (child == 0) {
    read_end.reset();
    ResolveInChild(folder, names, write_end.get());
  }
  write_end.reset();
  const std::string text = ReadToEnd(read_end.get());
  int status = 0;
  while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (text.starts_with('!')) {
    return Status::Failure(win32::kInvalidParameter, text.substr(1, text.find('\n') - 1));
  }
  std::unordered_map<std::string, LabTarget> by_name;
  size_t line_start = 0;
  for (const std::string& name : names) {
    const size_t line_end = text.find('\n', line_start);
    if (line_end == std::string::npos || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      return Status::Failure(win32::kInvalidParameter, "the lab of " + folder + " could not be looked up");
    }
    const std::string_view line(text.data() + line_start, line_end - line_start);
    line_start = line_end + 1;
    if (std::optional<LabTarget> target = ParseLine(line)) by_name.emplace(name, *target);
  }
  return std::unique_ptr<EchoSweep>(std::make_unique<LabEchoSweep>(std::move(by_name), request));
}

}  // namespace hostlore
