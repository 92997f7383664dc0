// The command line of hostlore-fleet.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "fleet/fleet_runner.h"
#include "fleet/shard.h"
#include "platform/status.h"

namespace hostlore::fleet {

// Defaults, from measurements on a 2-core host (see README). An agent costs
// about 40 ms of CPU to start and a non-answering target then holds its job
// for the 2 s echo wait, so a mostly silent fleet is fastest where starts
// just saturate the CPU: 128 jobs scanned 1,000 lab targets in 23 s, 64 in
// 47 s, 256 in 30 s. The timeout is far above a slow but healthy run (minutes
// at worst; the agent's own waits are bounded at 5 s per SMB and 60 s per
// WS-Management or SQLite lock wait) and still ends a hung agent.
inline constexpr int kDefaultJobs = 128;
inline constexpr int kDefaultTimeoutSeconds = 600;
// Echoes a second: 0.6 Mbit/s of echo traffic. Each echo to a silent address
// on the runner's own link holds a neighbour (ARP) entry for about 3 s, and
// Linux keeps at most 1,024 by default (net.ipv4.neigh.default.gc_thresh3):
// at this pace a sweep of a large local range stays under that.
inline constexpr int kDefaultRate = 300;

enum class ViewChoice { kAuto, kLive, kPlain };

struct FleetOptions {
  RunnerOptions runner;
  std::vector<std::string> target_arguments;  // as given; expanded later
  std::optional<Shard> shard;
  std::string report_path;
  std::string retry_path;  // an earlier JSON report whose unfinished targets run again
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
