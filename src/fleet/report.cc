// The report files: one record per target, in the order of the target list.
#include <cmath>
#include <fstream>

#include <nlohmann/json.hpp>

#include "fleet/summary.h"

namespace hostlore::fleet {
namespace {

double RoundedSeconds(const TargetRun& run) { return std::round(run.Seconds() * 1000) / 1000; }

std::string JsonReport(const FleetState& state) {
  nlohmann::json targets = nlohmann::json::array();
  for (const TargetRun& run : state.runs) {
    targets.push_back({{"target", run.target},
                       {"name", run.name},
                       {"address", run.address},
                       {"outcome", OutcomeText(run.outcome)},
                       {"detail", run.detail},
                       {"duration_s", RoundedSeconds(run)},
                       {"peak_rss_kb", run.max_rss_kb}});
  }
  nlohmann::json report = {{"targets", targets},
                           {"malformed_lines", state.malformed_lines},
                           {"interrupted", state.interrupted}};
  // Text from targets may hold invalid UTF-8; replace rather than fail.
  return report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
}

// RFC 4180: a field with a comma, quote or line break is quoted, quotes doubled.
std::string CsvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string CsvReport(const FleetState& state) {
  std::string text = "target,name,address,outcome,detail,duration_s,peak_rss_kb\r\n";
  for (const TargetRun& run : state.runs) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.3f", RoundedSeconds(run));
    text += CsvField(run.target) + "," + CsvField(run.name) + "," + CsvField(run.address) + "," +
            std::string(OutcomeText(run.outcome)) + "," + CsvField(run.detail) + "," + seconds + "," +
            std::to_string(run.max_rss_kb) + "\r\n";
  }
  return text;
}

}  // namespace

bool ReportFormatKnown(const std::string& path) {
  return path.ends_with(".json") || path.ends_with(".csv");
}

Status WriteReport(const FleetState& state, const std::string& path) {
  const std::string text = path.ends_with(".json") ? JsonReport(state) : CsvReport(state);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) return Status::Failure(win32::kFileNotFound, "report " + path + " cannot be written");
  return Status::Ok();
}

}  // namespace hostlore::fleet
