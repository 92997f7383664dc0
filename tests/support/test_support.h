// Helpers shared by the tests: temporary folders, a captured progress
// channel, a fixed clock, lab folders written from JSON text.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/clock/clock.h"
#include "platform/platform.h"

namespace hostlore::test {

// A fresh folder under the system's temporary folder, removed with its
// contents when destroyed.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::filesystem::path& path() const { return path_; }
  // Writes `text` to the file `name` inside the folder; returns its path.
  std::filesystem::path Write(const std::string& name, const std::string& text) const;

 private:
  std::filesystem::path path_;
};

// The read end of a pipe whose write end stands in for the caller's list.
class ProgressCapture {
 public:
  ProgressCapture();
  ~ProgressCapture();
  ProgressCapture(const ProgressCapture&) = delete;
  ProgressCapture& operator=(const ProgressCapture&) = delete;

  int write_fd() const { return fds_[1]; }
  // Every complete line written so far, without its "\n".
  std::vector<std::string> Lines();

 private:
  int fds_[2] = {-1, -1};
  std::string pending_;
  std::vector<std::string> lines_;
};

// A clock that stands still unless told otherwise, and does not sleep.
class FixedClock final : public Clock {
 public:
  explicit FixedClock(std::time_t now) : now_(now) {}
  std::time_t Now() override { return now_; }
  void Sleep(std::chrono::milliseconds duration) override { slept_ += duration; }
  void Set(std::time_t now) { now_ = now; }
  std::chrono::milliseconds slept() const { return slept_; }

 private:
  std::time_t now_;
  std::chrono::milliseconds slept_{0};
};

// Local time → time_t, for readable test times.
std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second);

// The lines of a text file, split at CR LF; empty when it does not exist.
std::vector<std::string> ReadCrLfLines(const std::filesystem::path& path);

// Sets (or, given nullopt, removes) an environment variable for the life of
// the object.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::optional<std::string>& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  bool had_value_ = false;
  std::string old_value_;
};

// What an agent process did: its exit status, its progress lines (sent to
// its standard output) and the lines of its error log.
struct AgentProcessResult {
  int exit_status = -1;
  std::vector<std::string> progress;
  std::vector<std::string> log;
  std::string stderr_text;
};

// What a program run as a process printed, and how it ended.
struct ProgramResult {
  int exit_status = -1;  // 128 + signal when a signal ended it
  std::string out;
  std::string err;
};

// Runs `argv` (argv[0] is the program's path) with /dev/null as standard
// input and waits for its end.
ProgramResult RunProgram(const std::vector<std::string>& argv);

// Runs the built `hostlore` binary with `command_line` (field 0 should be 1)
// and the given environment additions, with Temp pointing at `temp`.
// `while_running`, when given, is called with the agent's process id once it
// has started, on a thread of its own, while its output is read.
AgentProcessResult RunAgentProcess(const std::string& command_line,
                                   const std::filesystem::path& temp,
                                   const std::map<std::string, std::string>& env = {},
                                   const std::function<void(pid_t)>& while_running = nullptr);

}  // namespace hostlore::test

namespace hostlore::test {

// The lab platform of `folder` with a FixedClock at 2003/05/29 14:07:09 in
// place of the system clock; `clock` (optional) receives the clock.
Result<Platform> MakeTestLab(const std::filesystem::path& folder, FixedClock** clock = nullptr);

}  // namespace hostlore::test
