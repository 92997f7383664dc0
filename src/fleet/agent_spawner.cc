#include "fleet/agent_spawner.h"

#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <vector>

#include "fleet/agent_folders.h"

extern char** environ;

namespace hostlore::fleet {
namespace {

// The agent reads Temp first; the other spellings are left as they are.
std::vector<std::string> AgentEnvironment(const std::filesystem::path& temp_folder) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    if (std::strncmp(*entry, "Temp=", 5) != 0) env.emplace_back(*entry);
  }
  env.push_back("Temp=" + temp_folder.string());
  return env;
}

// posix_spawn's attribute and file-action objects, released on every path.
class SpawnSetup {
 public:
  SpawnSetup() {
    ::posix_spawnattr_init(&attr_);
    ::posix_spawn_file_actions_init(&actions_);
  }
  ~SpawnSetup() {
    ::posix_spawn_file_actions_destroy(&actions_);
    ::posix_spawnattr_destroy(&attr_);
  }
  SpawnSetup(const SpawnSetup&) = delete;
  SpawnSetup& operator=(const SpawnSetup&) = delete;

  posix_spawnattr_t attr_;
  posix_spawn_file_actions_t actions_;
};

}  // namespace

Result<pid_t> SpawnAgent(const AgentStart& start) {
  SpawnSetup setup;
  sigset_t none;
  sigemptyset(&none);
  sigset_t defaults;
  sigemptyset(&defaults);
  for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGPIPE, SIGWINCH}) sigaddset(&defaults, signal);
  ::posix_spawnattr_setsigmask(&setup.attr_, &none);
  ::posix_spawnattr_setsigdefault(&setup.attr_, &defaults);
  ::posix_spawnattr_setpgroup(&setup.attr_, 0);
  ::posix_spawnattr_setflags(&setup.attr_, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF |
                                               POSIX_SPAWN_SETPGROUP);

  const std::string output = (start.temp_folder / kAgentOutput).string();
  ::posix_spawn_file_actions_addopen(&setup.actions_, 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_addopen(&setup.actions_, 1, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
  ::posix_spawn_file_actions_adddup2(&setup.actions_, 1, 2);

  std::vector<std::string> env = AgentEnvironment(start.temp_folder);
  std::vector<char*> envp;
  for (std::string& entry : env) envp.push_back(entry.data());
  envp.push_back(nullptr);
  std::string program = start.agent_path;
  std::string argument = start.command_line;
  char* argv[] = {program.data(), argument.data(), nullptr};

  pid_t pid = 0;
  const int error = ::posix_spawn(&pid, program.c_str(), &setup.actions_, &setup.attr_, argv, envp.data());
  if (error != 0) {
    return Status::Failure(error, "cannot start " + start.agent_path + ": " + std::strerror(error));
  }
  return pid;
}

}  // namespace hostlore::fleet
