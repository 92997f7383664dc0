// The live view as a terminal shows it: hostlore-fleet runs inside a tmux
// session of 120 x 40 and the screen is captured while agents are running.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <thread>

#include "fleet/fleet_process.h"

namespace hostlore::test {
namespace {

using namespace std::chrono_literals;

std::string Capture(const std::string& command) {
  std::string text;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) text.append(buffer, n);
    ::pclose(pipe);
  }
  return text;
}

TEST(LiveViewTest, ShowsBarsStagesAndCounts) {
  if (std::system("command -v tmux >/dev/null 2>&1") != 0) GTEST_SKIP() << "tmux is not installed";
  TempFolder work;
  const auto agent = WriteScript(work.path(), "agent",
                                 "IFS=, read fd target server flag index <<EOF\n$1\nEOF\n"
                                 "say() { printf '%s\\n' \"$1\" >&$fd; }\n"
                                 "say \"$target,2,,$index\"\n"
                                 "[ \"$target\" = QUICK ] && { say \"$target,4,,$index\"; say \"$target,Complete,,$index\"; exit 0; }\n"
                                 "say \"$target,4,192.0.2.7,$index\"\nsay \"$target,40,192.0.2.7,$index\"\n"
                                 "sleep 4\nsay \"$target,Complete,192.0.2.7,$index\"\n");
  const std::string socket = "hostlore-fleet-test-" + std::to_string(::getpid());
  const std::string tmux = "tmux -L " + socket + " ";
  const std::string fleet = std::string(HOSTLORE_FLEET_PATH) + " --agent-per-target --agent " + agent.string() +
                            " sqlite:x QUICK SLOW1 SLOW2 > /dev/tty; sleep 20";
  ASSERT_EQ(std::system((tmux + "-f /dev/null new-session -d -x 120 -y 40 -s fleet -e TERM=xterm-256color 'cd " +
                         work.path().string() + " && Temp=" + work.path().string() + " " + fleet + "'")
                            .c_str()),
            0);
  // The slow agents hold their 40 % for 4 s: wait until the quick one has
  // finished and both slow ones show their step, whichever comes last.
  const auto settled = [](const std::string& text) {
    const size_t first = text.find(" 40% software");
    return text.find("1/3 done") != std::string::npos && first != std::string::npos &&
           text.find(" 40% software", first + 1) != std::string::npos;
  };
  std::string screen;
  for (int i = 0; i < 35 && !settled(screen); ++i) {
    std::this_thread::sleep_for(100ms);
    screen = Capture(tmux + "capture-pane -p -t fleet");
  }
  std::system((tmux + "kill-server").c_str());
  EXPECT_NE(screen.find("not answering  QUICK"), std::string::npos) << screen;  // finished, above
  EXPECT_NE(screen.find("SLOW1"), std::string::npos) << screen;
  EXPECT_NE(screen.find("192.0.2.7       [########"), std::string::npos) << screen;  // 40 %
  EXPECT_NE(screen.find(" 40% software"), std::string::npos) << screen;
  EXPECT_NE(screen.find("1/3 done · 0 answering · 1 not answering · 0 failed · 2 running"), std::string::npos)
      << screen;
  EXPECT_NE(screen.find("[####"), std::string::npos) << screen;  // the overall bar, a third full
}

}  // namespace
}  // namespace hostlore::test
