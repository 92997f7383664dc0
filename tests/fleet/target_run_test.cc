// How an ended agent's run is classified from its lines, exit and log.
#include <gtest/gtest.h>

#include <csignal>

#include "fleet/fleet_state.h"
#include "fleet/summary.h"
#include "fleet/target_run.h"

namespace hostlore::fleet {
namespace {

constexpr const char* kAccessLog = "2026/12/06 20:31:49,Insufficient access or error accessing PC ,NOREG:";

AgentEnd Exit(int status, std::vector<std::string> log = {}) {
  AgentEnd end;
  end.exited = true;
  end.exit_status = status;
  end.log_lines = std::move(log);
  return end;
}

AgentEnd Killed(int signal, bool timed_out = false, bool interrupted = false) {
  AgentEnd end;
  end.signal = signal;
  end.timed_out = timed_out;
  end.interrupted = interrupted;
  return end;
}

struct Case {
  const char* why;
  std::vector<const char*> lines;
  AgentEnd end;
  Outcome outcome;
  const char* detail;  // part of the detail
};

TargetRun Finished(const Case& c) {
  TargetRun run;
  run.target = run.name = "PC042";
  run.state = RunState::kRunning;
  run.started = Clock::now();
  for (const char* text : c.lines) run.Apply(*ParseProgressLine(text));
  run.Finish(c.end, Clock::now());
  return run;
}

TEST(TargetRunTest, OutcomesFollowExitLinesAndLog) {
  const std::vector<Case> cases = {
      {"normal end, answered", {"PC042,2,,0", "PC042,4,192.0.2.42,0", "OWN,100,192.0.2.42,0", "OWN,Complete,192.0.2.42,0"},
       Exit(0), Outcome::kStored, ""},
      {"a note in the log does not spoil a normal end",
       {"PC042,4,192.0.2.42,0", "PC042,Complete,192.0.2.42,0"},
       Exit(0, {"2026/12/06 20:31:49,Unable to access WMI,PC042:RPC"}),
       Outcome::kStored, "Unable to access WMI,PC042:RPC"},
      {"no answer", {"PC042,2,,0", "PC042,4,,0", "PC042,Complete,,0"}, Exit(0),
       Outcome::kNotAnswering, ""},
      {"registry refused", {"PC042,4,192.0.2.51,0", "PC042,Complete,192.0.2.51,0"},
       Exit(1, {kAccessLog}), Outcome::kAccessRefused,
       "Insufficient access"},
      {"a failed update keeps its log line",
       {"PC042,100,192.0.2.42,0", "PC042,Complete,192.0.2.42,0"},
       Exit(1, {"2026/12/06 20:31:49,Error listing software,PC042:x",
                "2026/12/06 20:31:50,Error updating database,PC042:disk full"}),
       Outcome::kFailed, "Error updating database,PC042:disk full"},
      {"exit 0 without Complete", {"PC042,2,,0"}, Exit(0), Outcome::kFailed, "without a Complete"},
      {"killed from outside", {"PC042,2,,0"}, Killed(SIGSEGV), Outcome::kCrashed,
       "signal 11 (SIGSEGV)"},
      {"ended by the timeout", {"PC042,2,,0"}, Killed(SIGTERM, true), Outcome::kTimedOut,
       "no end after"},
      {"ended by Ctrl-C", {}, Killed(SIGTERM, false, true), Outcome::kInterrupted, ""},
  };
  for (const Case& c : cases) {
    const TargetRun run = Finished(c);
    EXPECT_EQ(run.outcome, c.outcome) << c.why << ": " << OutcomeText(run.outcome);
    EXPECT_NE(run.detail.find(c.detail), std::string::npos) << c.why << ": " << run.detail;
  }
}

TEST(TargetRunTest, TheTargetsOwnNameReplacesTheGivenOne) {
  const TargetRun run = Finished({"", {"PC042,4,192.0.2.42,0", "OFFICE-PC,Complete,192.0.2.42,0"}, Exit(0),
                             Outcome::kStored, ""});
  EXPECT_EQ(run.name, "OFFICE-PC");
  EXPECT_EQ(run.target, "PC042");
}

TEST(TargetRunTest, ExitStatusIsZeroOnlyWhenEveryAnsweringTargetWasStored) {
  FleetState state({"A", "B"});
  state.runs[0].FinishWithout(Outcome::kStored, "", Clock::now());
  state.runs[1].FinishWithout(Outcome::kNotAnswering, "", Clock::now());
  EXPECT_EQ(FleetExitStatus(state), 0);
  state.runs[1].FinishWithout(Outcome::kAccessRefused, "", Clock::now());
  EXPECT_EQ(FleetExitStatus(state), 1);
}

}  // namespace
}  // namespace hostlore::fleet
