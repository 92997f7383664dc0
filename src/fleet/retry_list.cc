#include "fleet/retry_list.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include <nlohmann/json.hpp>

namespace hostlore::fleet {

Result<std::vector<std::string>> ReadRetryTargets(const std::string& path) {
  const auto refused = [&path](const std::string& why) {
    return Status::Failure(win32::kInvalidParameter, "--retry " + path + ": " + why);
  };
  std::ifstream in(path, std::ios::binary);
  if (!in) return refused(std::string("cannot be read: ") + std::strerror(errno));
  std::stringstream text;
  text << in.rdbuf();
  const nlohmann::json report = nlohmann::json::parse(text.str(), nullptr, false);
  if (report.is_discarded() || !report.is_object() || !report.contains("targets") ||
      !report["targets"].is_array()) {
    return refused("is not a JSON report of hostlore-fleet (--report FILE.json)");
  }
  static const std::set<std::string> kAgain = {"not started", "interrupted", "timed out", "failed",
                                               "crashed"};
  std::vector<std::string> targets;
  for (const nlohmann::json& record : report["targets"]) {
    if (!record.is_object() || !record.value("target", nlohmann::json()).is_string() ||
        !record.value("outcome", nlohmann::json()).is_string()) {
      return refused("holds a record without its target and outcome");
    }
    if (kAgain.contains(record["outcome"].get<std::string>())) {
      targets.push_back(record["target"].get<std::string>());
    }
  }
  return targets;
}

}  // namespace hostlore::fleet
