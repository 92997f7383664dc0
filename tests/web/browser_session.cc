#include "web/browser_session.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <httplib.h>

#include <chrono>
#include <thread>

#include "support/free_port.h"

namespace hostlore::test {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, bool capture) {
  int pipe_fds[2] = {-1, -1};
  if (capture && ::pipe2(pipe_fds, O_CLOEXEC) != 0) return;
  pid_ = ::fork();
  if (pid_ == 0) {
    ::setpgid(0, 0);  // a group of its own, so that its children end with it
    const int devnull = ::open("/dev/null", O_RDWR);
    ::dup2(devnull, 0);
    ::dup2(capture ? pipe_fds[1] : devnull, 1);
    ::dup2(devnull, 2);
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    ::execv(args[0], args.data());
    ::_exit(127);
  }
  if (capture) {
    ::close(pipe_fds[1]);
    out_ = pipe_fds[0];
  }
}

ChildProcess::~ChildProcess() {
  if (out_ >= 0) ::close(out_);
  if (pid_ <= 0) return;
  ::kill(-pid_, SIGTERM);
  for (int waited = 0; waited < 100; ++waited) {
    if (::waitpid(pid_, nullptr, WNOHANG) == pid_) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ::kill(-pid_, SIGKILL);  // whatever of the group is left
  ::waitpid(pid_, nullptr, 0);
}

std::string ChildProcess::ReadLine(int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (pending_.find('\n') == std::string::npos && out_ >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    pollfd ready{out_, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) return {};
    char buffer[4096];
    const ssize_t got = ::read(out_, buffer, sizeof buffer);
    if (got <= 0) return {};
    pending_.append(buffer, static_cast<size_t>(got));
  }
  const size_t end = pending_.find('\n');
  if (end == std::string::npos) return {};
  std::string line = pending_.substr(0, end);
  pending_.erase(0, end + 1);
  return line;
}

BrowserSession::BrowserSession(const std::filesystem::path& profile) {
  for (const char* program : {"/usr/bin/chromium", "/usr/bin/chromedriver"}) {
    if (::access(program, X_OK) != 0) {
      reason_ = std::string(program) + " is not installed; run scripts/setup";
      return;
    }
  }
  port_ = FreeLoopbackPort();
  driver_ = std::make_unique<ChildProcess>(
      std::vector<std::string>{"/usr/bin/chromedriver", "--port=" + std::to_string(port_)}, false);
  for (int tries = 0; tries < 100; ++tries) {
    httplib::Client client("127.0.0.1", port_);
    if (httplib::Result status = client.Get("/status"); status && status->status == 200) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  const nlohmann::json args = {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                               "--disable-background-networking", "--disable-component-update", "--disable-sync",
                               "--disable-breakpad", "--user-data-dir=" + profile.string()};
  const nlohmann::json created = Call(
      "POST", "/session",
      {{"capabilities",
        {{"alwaysMatch", {{"goog:chromeOptions", {{"binary", "/usr/bin/chromium"}, {"args", args}}}}}}}});
  if (created.contains("sessionId")) {
    session_ = created["sessionId"];
  } else {
    reason_ = "chromedriver started no browser: " + created.dump();
  }
}

BrowserSession::~BrowserSession() {
  if (!session_.empty()) Call("DELETE", "/session/" + session_);
}

nlohmann::json BrowserSession::Call(const std::string& method, const std::string& path, const nlohmann::json& body) {
  httplib::Client client("127.0.0.1", port_);
  client.set_read_timeout(60, 0);
  httplib::Result result = method == "GET"      ? client.Get(path)
                           : method == "DELETE" ? client.Delete(path)
                                                : client.Post(path, body.is_null() ? "{}" : body.dump(),
                                                              "application/json");
  if (!result) return {{"error", httplib::to_string(result.error())}};
  const nlohmann::json answer = nlohmann::json::parse(result->body, nullptr, false);
  return answer.is_object() && answer.contains("value") ? answer["value"] : answer;
}

void BrowserSession::Open(const std::string& url) { Call("POST", "/session/" + session_ + "/url", {{"url", url}}); }

nlohmann::json BrowserSession::Run(const std::string& script) {
  return Call("POST", "/session/" + session_ + "/execute/sync",
              {{"script", script}, {"args", nlohmann::json::array()}});
}

void BrowserSession::Type(const std::string& css, const std::string& text) {
  const nlohmann::json element =
      Call("POST", "/session/" + session_ + "/element", {{"using", "css selector"}, {"value", css}});
  if (!element.is_object() || element.empty()) return;
  const std::string id = element.begin().value();
  Call("POST", "/session/" + session_ + "/element/" + id + "/value", {{"text", text}});
}

}  // namespace hostlore::test
