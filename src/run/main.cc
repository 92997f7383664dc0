// hostlore: the agent. One process examines one target and ends.
//
//   hostlore PROGRESS_FD,TARGET,SERVER,[-u],CALLER_INDEX

#include <fcntl.h>
#include <unistd.h>

#include <csignal>
#include <memory>

#include "run/agent.h"
#include "run/command_line.h"
#include "run/termination_watch.h"
#include "scan/scan_state.h"

namespace {

// Standard input, output and error that the caller left closed get
// /dev/null: a file that the agent opens later would otherwise take their
// number, and message boxes (standard error) would be written into it.
void OccupyClosedStandardDescriptors() {
  for (int fd = 0; fd <= 2; ++fd) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0 && null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  OccupyClosedStandardDescriptors();
  // Before any thread starts: only the termination watch takes them.
  hostlore::BlockTerminationSignals();
  // A caller that went away must not kill the run: the line is dropped.
  std::signal(SIGPIPE, SIG_IGN);
  auto state = std::make_unique<hostlore::ScanState>();
  state->CommandLine = hostlore::JoinArguments(argc, argv);
  // The lab checks the target's own file at once (the command line is read
  // by then).
  return hostlore::RunAgent(
      *state, [&state] { return hostlore::MakePlatform(state->TargetName); }, /*watch_signals=*/true);
}
