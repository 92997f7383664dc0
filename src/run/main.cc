// hostlore: the agent. One process examines one target and ends.
//
//   hostlore PROGRESS_FD,TARGET,SERVER,[-u],CALLER_INDEX

#include <csignal>
#include <memory>

#include "run/agent.h"
#include "run/command_line.h"
#include "run/termination_watch.h"
#include "scan/scan_state.h"

int main(int argc, char** argv) {
  // Before any thread starts: only the termination watch takes them.
  hostlore::BlockTerminationSignals();
  // A caller that went away must not kill the run: the line is dropped.
  std::signal(SIGPIPE, SIG_IGN);
  auto state = std::make_unique<hostlore::ScanState>();
  state->CommandLine = hostlore::JoinArguments(argc, argv);
  return hostlore::RunAgent(*state, hostlore::MakePlatform, /*watch_signals=*/true);
}
