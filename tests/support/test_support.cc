#include "support/test_support.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace hostlore::test {

TempFolder::TempFolder() {
  std::string templ = (std::filesystem::temp_directory_path() / "hostlore-test-XXXXXX").string();
  if (::mkdtemp(templ.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = templ;
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::filesystem::path TempFolder::Write(const std::string& name, const std::string& text) const {
  const std::filesystem::path file = path_ / name;
  std::ofstream(file, std::ios::binary) << text;
  return file;
}

ProgressCapture::ProgressCapture() {
  if (::pipe2(fds_, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
  ::fcntl(fds_[0], F_SETFL, O_NONBLOCK);
}

ProgressCapture::~ProgressCapture() {
  for (int fd : fds_) {
    if (fd >= 0) ::close(fd);
  }
}

std::vector<std::string> ProgressCapture::Lines() {
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fds_[0], buffer, sizeof buffer)) > 0) pending_.append(buffer, static_cast<size_t>(n));
  size_t newline;
  while ((newline = pending_.find('\n')) != std::string::npos) {
    lines_.push_back(pending_.substr(0, newline));
    pending_.erase(0, newline + 1);
  }
  return lines_;
}

std::time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
  std::tm t{};
  t.tm_year = year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  t.tm_isdst = -1;
  return std::mktime(&t);
}

std::vector<std::string> ReadCrLfLines(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  std::vector<std::string> lines;
  std::string all = text.str();
  size_t start = 0, end;
  while ((end = all.find("\r\n", start)) != std::string::npos) {
    lines.push_back(all.substr(start, end - start));
    start = end + 2;
  }
  if (start < all.size()) lines.push_back(all.substr(start));  // a torn last line shows up
  return lines;
}

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value)
    : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) {
    had_value_ = true;
    old_value_ = old;
  }
  if (value) {
    ::setenv(name_.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

ScopedEnv::~ScopedEnv() {
  if (had_value_) {
    ::setenv(name_.c_str(), old_value_.c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

namespace {

std::string ReadAll(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<size_t>(n));
  return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Runs `exec` in a child whose standard output and error are captured, whose
// input is /dev/null and which holds no other descriptor of the test
// program; `exec` ends in an exec (or _exit). `while_running` is called on
// a thread of its own with the child's pid.
ProgramResult RunCaptured(const std::function<void()>& exec, const std::function<void(pid_t)>& while_running = {}) {
  int out[2], err[2];
  if (::pipe(out) != 0 || ::pipe(err) != 0) throw std::runtime_error("pipe failed");
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::dup2(err[1], 2);
    ::dup2(::open("/dev/null", O_RDONLY), 0);
    ::close_range(3, ~0U, 0);
    exec();
    ::_exit(127);
  }
  ::close(out[1]);
  ::close(err[1]);
  std::thread watcher;
  if (while_running) watcher = std::thread(while_running, pid);
  ProgramResult result;
  // Standard error is small: it fits its pipe while standard output is read.
  result.out = ReadAll(out[0]);
  result.err = ReadAll(err[0]);
  ::close(out[0]);
  ::close(err[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  if (watcher.joinable()) watcher.join();
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return result;
}

}  // namespace

ProgramResult RunProgram(const std::vector<std::string>& argv) {
  return RunCaptured([&] {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
  });
}

AgentProcessResult RunAgentProcess(const std::string& command_line,
                                   const std::filesystem::path& temp,
                                   const std::map<std::string, std::string>& env,
                                   const std::function<void(pid_t)>& while_running) {
  // The agent starts with the three standard descriptors only, as from a
  // shell; nothing of the test program leaks into it.
  ProgramResult run = RunCaptured(
      [&] {
        for (const char* name : {"Temp", "TEMP", "TMP", "TMPDIR", "HOSTLORE_LAB"}) ::unsetenv(name);
        ::setenv("Temp", temp.c_str(), 1);
        for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
        ::execl(HOSTLORE_AGENT_PATH, "hostlore", command_line.c_str(), static_cast<char*>(nullptr));
      },
      while_running);
  AgentProcessResult result;
  result.progress = SplitLines(run.out);
  result.stderr_text = std::move(run.err);
  result.exit_status = run.exit_status;
  result.log = ReadCrLfLines(temp / "Kelvarn.log");
  return result;
}

}  // namespace hostlore::test

#include "platform/lab/lab_platform.h"

namespace hostlore::test {

Result<Platform> MakeTestLab(const std::filesystem::path& folder, FixedClock** clock) {
  Result<Platform> lab = MakeLabPlatform(folder.string());
  if (!lab.ok()) return lab;
  auto fixed = std::make_unique<FixedClock>(LocalTime(2003, 5, 29, 14, 7, 9));
  if (clock != nullptr) *clock = fixed.get();
  lab.value().clock = std::move(fixed);
  return lab;
}

}  // namespace hostlore::test
