#include "fleet/fleet_process.h"

#include <fcntl.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace hostlore::test {
namespace {

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

FleetProcess::FleetProcess(const std::vector<std::string>& arguments, const std::filesystem::path& work,
                           const std::map<std::string, std::string>& env, const std::string& netns)
    : work_(work) {
  std::filesystem::create_directories(work / "temp");
  const std::string out = (work / "fleet.out").string();
  const std::string err = (work / "fleet.err").string();
  const std::string temp = (work / "temp").string();
  std::vector<std::string> args = {HOSTLORE_FLEET_PATH, "--agent", HOSTLORE_AGENT_PATH};
  args.insert(args.end(), arguments.begin(), arguments.end());
  pid_ = ::fork();
  if (pid_ < 0) throw std::runtime_error("fork failed");
  if (pid_ == 0) {
    ::setpgid(0, 0);
    if (!netns.empty()) {
      const int ns = ::open(("/run/netns/" + netns).c_str(), O_RDONLY);
      if (ns < 0 || ::setns(ns, CLONE_NEWNET) != 0) ::_exit(126);
    }
    // Relative paths (a server field such as sqlite:x) land in the test's folder.
    if (::chdir(work.c_str()) != 0) ::_exit(126);
    const int null_fd = ::open("/dev/null", O_RDONLY);
    const int out_fd = ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err_fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(null_fd, 0);
    ::dup2(out_fd, 1);
    ::dup2(err_fd, 2);
    for (const char* name : {"Temp", "TEMP", "TMP", "HOSTLORE_LAB"}) ::unsetenv(name);
    ::setenv("Temp", temp.c_str(), 1);
    for (const auto& [name, value] : env) ::setenv(name.c_str(), value.c_str(), 1);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(127);
  }
}

FleetProcess::~FleetProcess() {
  if (pid_ > 0) {
    ::kill(-pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

FleetResult FleetProcess::Wait() {
  int status = 0;
  ::waitpid(pid_, &status, 0);
  pid_ = -1;
  FleetResult result;
  result.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  result.out = ReadFile(work_ / "fleet.out");
  result.err = ReadFile(work_ / "fleet.err");
  return result;
}

FleetResult RunFleet(const std::vector<std::string>& arguments, const std::filesystem::path& work,
                     const std::map<std::string, std::string>& env, const std::string& netns) {
  return FleetProcess(arguments, work, env, netns).Wait();
}

std::filesystem::path WriteScript(const std::filesystem::path& folder, const std::string& name,
                                  const std::string& body) {
  const std::filesystem::path path = folder / name;
  std::ofstream(path) << "#!/bin/sh\n" << body;
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  return path;
}

nlohmann::json ReadJson(const std::filesystem::path& path) {
  return nlohmann::json::parse(ReadFile(path));
}

}  // namespace hostlore::test
