#include "fleet/target_run.h"

#include <cstring>

namespace hostlore::fleet {
namespace {

// The agent's log line for a registry that cannot be read (access check).
constexpr std::string_view kAccessRefusedLog = "Insufficient access or error accessing PC ";
constexpr size_t kTimeStampLength = 19;  // "YYYY/MM/DD HH:MM:SS"

std::string JoinLog(const std::vector<std::string>& lines) {
  std::string joined;
  for (const std::string& line : lines) {
    if (!joined.empty()) joined += " | ";
    joined += WithoutTimeStamp(line);
  }
  return joined;
}

std::string SignalText(int signal) {
  const char* abbrev = ::sigabbrev_np(signal);
  return "signal " + std::to_string(signal) + (abbrev ? std::string(" (SIG") + abbrev + ")" : "");
}

}  // namespace

std::string_view OutcomeText(Outcome outcome) {
  switch (outcome) {
    case Outcome::kNotStarted: return "not started";
    case Outcome::kStored: return "stored";
    case Outcome::kNotAnswering: return "not answering";
    case Outcome::kUnknownName: return "unknown name";
    case Outcome::kAccessRefused: return "access refused";
    case Outcome::kFailed: return "failed";
    case Outcome::kTimedOut: return "timed out";
    case Outcome::kCrashed: return "crashed";
    case Outcome::kInterrupted: return "interrupted";
  }
  return "failed";
}

std::string WithoutTimeStamp(std::string_view log_line) {
  if (log_line.size() > kTimeStampLength && log_line[4] == '/' && log_line[kTimeStampLength] == ',') {
    log_line.remove_prefix(kTimeStampLength + 1);
  }
  return std::string(log_line);
}

void TargetRun::Apply(const ProgressLine& line) {
  name = line.target_name;
  address = line.address;
  if (line.complete) {
    ++complete_lines;
  } else {
    percent = line.percent;
  }
}

void TargetRun::Finish(const AgentEnd& end, Clock::time_point now) {
  state = RunState::kFinished;
  ended = now;
  log_lines = end.log_lines;
  max_rss_kb = end.max_rss_kb;
  const std::string log = JoinLog(log_lines);
  if (end.interrupted) {
    outcome = Outcome::kInterrupted;
    detail = log;
  } else if (end.timed_out) {
    outcome = Outcome::kTimedOut;
    detail = "no end after " + std::to_string(static_cast<long>(Seconds())) + " s" +
             (log.empty() ? "" : "; " + log);
  } else if (!end.exited) {
    outcome = Outcome::kCrashed;
    detail = SignalText(end.signal) + (log.empty() ? "" : "; " + log);
  } else if (end.exit_status == 0 && complete_lines > 0) {
    // A log line on a normal end is a note (WMI refused, say): the run went on.
    outcome = address.empty() ? Outcome::kNotAnswering : Outcome::kStored;
    detail = log;
  } else if (end.exit_status == 1 && log.find(kAccessRefusedLog) != std::string::npos) {
    outcome = Outcome::kAccessRefused;
    detail = log;
  } else {
    outcome = Outcome::kFailed;
    if (!log.empty()) {
      detail = WithoutTimeStamp(log_lines.back());
    } else if (end.exit_status == 0) {
      detail = "the agent ended without a Complete line";
    } else {
      detail = "exit status " + std::to_string(end.exit_status) + " without a log line";
    }
  }
}

void TargetRun::FinishWithout(Outcome result, std::string why, Clock::time_point now) {
  state = RunState::kFinished;
  if (started == Clock::time_point{}) started = now;
  ended = now;
  outcome = result;
  detail = std::move(why);
}

std::string_view TargetRun::Stage() const {
  if (state == RunState::kWaiting) return "waiting";
  if (state == RunState::kFinished) return OutcomeText(outcome);
  if (complete_lines > 0) return "ending";
  if (percent < 4) return "echo";
  if (percent < 6) return "access check";
  if (percent < 35) return "hardware and services";
  if (percent < 100) return "software";
  return "database";
}

double TargetRun::Seconds() const {
  const Clock::time_point until = state == RunState::kFinished ? ended : Clock::now();
  if (started == Clock::time_point{}) return 0;
  return std::chrono::duration<double>(until - started).count();
}

}  // namespace hostlore::fleet
