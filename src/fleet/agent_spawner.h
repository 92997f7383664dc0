// Starting one agent process.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <string>

#include "platform/status.h"

namespace hostlore::fleet {

struct AgentStart {
  std::string agent_path;
  // The agent's one-argument command line: "FD,TARGET,SERVER,[-u],INDEX".
  std::string command_line;
  // The agent's temporary folder (Temp): its Kelvarn.log, software dump and,
  // in agent.out, its standard output and error (message box texts).
  std::filesystem::path temp_folder;
};

// Starts the agent with `start.command_line` as its only argument. The child
// inherits every descriptor that is not close-on-exec (the progress pipe's
// write end must be one of them), reads /dev/null, runs in a process group of
// its own (so that a terminal's Ctrl-C reaches only the runner, which then
// ends the agents itself) with default signal handling and an empty signal
// mask. Returns the child's pid, which is also its process group id.
// Failure: the program cannot be started; the description says why.
Result<pid_t> SpawnAgent(const AgentStart& start);

}  // namespace hostlore::fleet
