#include "platform/network/wsman/wsman_peer_process.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace hostlore::test {
namespace {

constexpr const char* kPython = "/usr/bin/python3";
constexpr int kStartTimeoutMs = 10000;

std::string ScriptPath() {
  return std::string(HOSTLORE_SOURCE_DIR) + "/tests/tools/wsman_peer/wsman_peer.py";
}

// The first line the child writes, or empty text when none comes in time.
std::string FirstLine(int fd) {
  std::string line;
  char c = 0;
  while (line.size() < 200) {
    pollfd ready{fd, POLLIN, 0};
    if (::poll(&ready, 1, kStartTimeoutMs) <= 0 || ::read(fd, &c, 1) != 1 || c == '\n') break;
    line += c;
  }
  return line;
}

}  // namespace

bool MakeTestCertificates(const std::string& dir) {
  const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes ";
  const std::string in = "cd '" + dir + "' && ";
  std::ofstream(dir + "/san.ext") << "subjectAltName=IP:127.0.0.1\n";
  for (const std::string& command :
       {in + "openssl req -x509" + ec + "-keyout ca.key -out ca.pem -days 1 -subj '/CN=Hostlore Test CA'",
        in + "openssl req" + ec + "-keyout peer.key -out peer.csr -subj '/CN=127.0.0.1'",
        in + "openssl x509 -req -in peer.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out "
             "peer.pem -days 1 -extfile san.ext"}) {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) return false;
  }
  return true;
}

std::unique_ptr<WsmanPeerProcess> WsmanPeerProcess::Start(const WsmanPeerOptions& options,
                                                          std::string& why_not) {
  if (::access(kPython, X_OK) != 0) {
    why_not = std::string(kPython) + " is missing";
    return nullptr;
  }
  std::vector<std::string> args = {kPython,  ScriptPath(), "--computer", options.computer,
                                   "--bind", options.bind, "--port", std::to_string(options.port)};
  if (!options.netns.empty()) args.insert(args.begin(), {"/usr/bin/ip", "netns", "exec", options.netns});
  if (!options.tls_cert.empty()) {
    args.insert(args.end(), {"--tls", options.tls_cert, options.tls_key});
  }
  if (options.strict_channel_binding) args.insert(args.end(), {"--channel-binding", "strict"});
  if (options.page > 0) args.insert(args.end(), {"--page", std::to_string(options.page)});
  if (options.delay_ms > 0) {
    args.insert(args.end(), {"--delay-ms", std::to_string(options.delay_ms)});
  }
  if (options.stop_after > 0) {
    args.insert(args.end(), {"--stop-after", std::to_string(options.stop_after)});
  }
  if (!options.log.empty()) args.insert(args.end(), {"--log", options.log});
  // The peer's standard error goes to a file of its own in the temporary
  // folder (never beside the lab file, which may be in the source tree).
  static int started = 0;
  const std::string errors = (std::filesystem::temp_directory_path() /
                              ("wsman-peer-" + std::to_string(::getpid()) + "-" +
                               std::to_string(++started) + ".err"))
                                 .string();

  int out[2];
  if (::pipe(out) != 0) {
    why_not = "no pipe";
    return nullptr;
  }
  auto peer = std::make_unique<WsmanPeerProcess>(Key());
  peer->pid_ = ::fork();
  if (peer->pid_ == 0) {
    ::dup2(out[1], STDOUT_FILENO);
    if (FILE* err = std::fopen(errors.c_str(), "w")) ::dup2(fileno(err), STDERR_FILENO);
    ::close(out[0]);
    ::close(out[1]);
    for (const auto& [name, value] : options.env) ::setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(out[1]);
  const std::string line = FirstLine(out[0]);
  ::close(out[0]);
  if (line.rfind("listening ", 0) != 0) {
    std::ifstream file(errors);
    std::stringstream text;
    text << file.rdbuf();
    why_not = "the WS-Management peer did not start: " + text.str().substr(0, 400);
    std::filesystem::remove(errors);
    return nullptr;
  }
  std::filesystem::remove(errors);  // the running peer keeps writing to it unlinked
  peer->port_ = std::atoi(line.c_str() + 10);
  return peer;
}

std::unique_ptr<WsmanPeerStdio> WsmanPeerStdio::Start(const std::string& computer,
                                                      std::string& why_not) {
  if (::access(kPython, X_OK) != 0) {
    why_not = std::string(kPython) + " is missing";
    return nullptr;
  }
  int in[2];
  int out[2];
  if (::pipe(in) != 0) {
    why_not = "no pipe";
    return nullptr;
  }
  if (::pipe(out) != 0) {
    ::close(in[0]);
    ::close(in[1]);
    why_not = "no pipe";
    return nullptr;
  }
  std::vector<std::string> args = {kPython, ScriptPath(), "--computer", computer, "--stdio"};
  auto peer = std::make_unique<WsmanPeerStdio>(Key());
  peer->pid_ = ::fork();
  if (peer->pid_ == 0) {
    ::dup2(in[0], STDIN_FILENO);
    ::dup2(out[1], STDOUT_FILENO);
    for (int fd : {in[0], in[1], out[0], out[1]}) ::close(fd);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
  ::close(in[0]);
  ::close(out[1]);
  // A service that ended early fails the test in Ask instead of killing it.
  ::signal(SIGPIPE, SIG_IGN);
  peer->to_peer_ = in[1];
  peer->from_peer_ = out[0];
  return peer;
}

std::pair<int, std::string> WsmanPeerStdio::Ask(std::string_view request) {
  std::string line(request);
  line += '\n';
  for (size_t sent = 0; sent < line.size();) {
    const ssize_t n = ::write(to_peer_, line.data() + sent, line.size() - sent);
    if (n <= 0) return {0, ""};
    sent += static_cast<size_t>(n);
  }
  std::string reply;
  char c = 0;
  while (c != '\n') {
    pollfd ready{from_peer_, POLLIN, 0};
    if (::poll(&ready, 1, kStartTimeoutMs) <= 0 || ::read(from_peer_, &c, 1) != 1) {
      return {0, reply};
    }
    reply += c;
  }
  reply.pop_back();
  const size_t space = reply.find(' ');
  if (space == std::string::npos) return {0, reply};
  return {std::atoi(reply.c_str()), reply.substr(space + 1)};
}

WsmanPeerStdio::~WsmanPeerStdio() {
  if (to_peer_ >= 0) ::close(to_peer_);  // end of input: the service ends
  if (from_peer_ >= 0) ::close(from_peer_);
  if (pid_ > 0) ::waitpid(pid_, nullptr, 0);
}

WsmanPeerProcess::~WsmanPeerProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
  }
}

}  // namespace hostlore::test
