// Debian's headless Chromium driven over WebDriver (chromedriver), for the
// tests that load the pages in a real browser and read the DOM it built.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace hostlore::test {

// A program run in the background in a process group of its own; the
// group is stopped (SIGTERM, then SIGKILL) and the program waited for when
// the object ends. With `capture`, its standard output can
// be read line by line.
class ChildProcess {
 public:
  ChildProcess(const std::vector<std::string>& argv, bool capture);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  // The next line of standard output; empty when none came within `seconds`.
  std::string ReadLine(int seconds);

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  std::string pending_;
};

class BrowserSession {
 public:
  // Starts chromedriver and a browser with an empty profile in `profile`.
  // Check ok() before use; reason() says what failed.
  explicit BrowserSession(const std::filesystem::path& profile);
  ~BrowserSession();

  bool ok() const { return !session_.empty(); }
  const std::string& reason() const { return reason_; }

  // Loads `url` and waits for its load event.
  void Open(const std::string& url);
  // The value of `script` (a function body) run in the page.
  nlohmann::json Run(const std::string& script);
  // Types `text` into the first element that matches `css`, as a user would.
  void Type(const std::string& css, const std::string& text);

 private:
  nlohmann::json Call(const std::string& method, const std::string& path, const nlohmann::json& body = nullptr);

  std::unique_ptr<ChildProcess> driver_;
  int port_ = 0;
  std::string session_;
  std::string reason_;
};

}  // namespace hostlore::test
