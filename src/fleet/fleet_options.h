// The command line of hostlore-fleet.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fleet/fleet_runner.h"
#include "fleet/shard.h"
#include "platform/status.h"

namespace hostlore::fleet {

// Defaults, from measurements on a 2-core lab host (see README): a
// non-answering target holds its job for the 2 s echo wait and almost no
// CPU, so many jobs pay off; an answering target costs CPU and database time.
inline constexpr int kDefaultJobs = 64;
inline constexpr int kDefaultTimeoutSeconds = 600;

enum class ViewChoice { kAuto, kLive, kPlain };

struct FleetOptions {
  RunnerOptions runner;
  std::vector<std::string> target_arguments;  // as given; expanded later
  std::optional<Shard> shard;
  std::string report_path;
  ViewChoice view = ViewChoice::kAuto;
  bool help = false;
};

// Parses argv[1..]. `default_agent` is used when --agent is not given.
// Failure: the description is a one-line message for the user.
Result<FleetOptions> ParseFleetOptions(const std::vector<std::string>& arguments,
                                       const std::string& default_agent);

// The --help text.
std::string FleetUsage();

}  // namespace hostlore::fleet
