// Runs the built hostlore-fleet as a process, as a user would.
#pragma once

#include <sys/types.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "support/test_support.h"

namespace hostlore::test {

struct FleetResult {
  int exit_status = -1;  // 128 + signal when it was killed
  std::string out;
  std::string err;
};

// A started hostlore-fleet whose standard output and error go to files of
// `work`, with Temp at work/temp and the given environment additions; inside
// the network namespace `netns` when one is named.
class FleetProcess {
 public:
  FleetProcess(const std::vector<std::string>& arguments, const std::filesystem::path& work,
               const std::map<std::string, std::string>& env = {}, const std::string& netns = "");
  ~FleetProcess();
  FleetProcess(const FleetProcess&) = delete;
  FleetProcess& operator=(const FleetProcess&) = delete;

  pid_t pid() const { return pid_; }
  FleetResult Wait();

 private:
  pid_t pid_ = -1;
  std::filesystem::path work_;
};

// Starts hostlore-fleet and waits for its end.
FleetResult RunFleet(const std::vector<std::string>& arguments, const std::filesystem::path& work,
                     const std::map<std::string, std::string>& env = {}, const std::string& netns = "");

// Writes an executable shell script `name` into `folder` and returns its path.
std::filesystem::path WriteScript(const std::filesystem::path& folder, const std::string& name,
                                  const std::string& body);

nlohmann::json ReadJson(const std::filesystem::path& path);

}  // namespace hostlore::test
