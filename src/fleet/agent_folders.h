// Temporary folders of the agents, and how their log lines are attributed.
//
// Every running agent gets its own Temp folder (one per job slot, emptied
// before each use), so the lines of its Kelvarn.log belong to its target
// without parsing names out of a shared file. When an agent ends, its lines
// are appended to the runner's own Kelvarn.log (found in the temporary folder
// the way the agent finds it) so that the usual log still holds every line.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/status.h"

namespace hostlore::fleet {

// The file in an agent's folder that takes its standard output and error.
inline constexpr char kAgentOutput[] = "agent.out";

class AgentFolders {
 public:
  // Creates a fresh work folder under the system's temporary folder.
  static Result<std::unique_ptr<AgentFolders>> Create();
  // Takes over an existing folder; it is removed with everything in it when
  // the object is destroyed.
  explicit AgentFolders(std::filesystem::path root) : root_(std::move(root)) {}
  ~AgentFolders();
  AgentFolders(const AgentFolders&) = delete;
  AgentFolders& operator=(const AgentFolders&) = delete;

  // The Temp folder for job slot `slot`, created and emptied.
  Result<std::filesystem::path> Prepare(int slot) const;
  // The lines of the slot's Kelvarn.log, without their CR LF.
  std::vector<std::string> LogLines(int slot) const;
  const std::filesystem::path& root() const { return root_; }

 private:
  std::filesystem::path SlotFolder(int slot) const;

  std::filesystem::path root_;
};

// The log the agent itself would write to: its temporary folder
// (diag/temp_folder.h) + "/Kelvarn.log".
std::string SharedLogPath();

// Appends `lines` with CR LF, each in one O_APPEND write as the agent does.
void AppendLogLines(const std::string& path, const std::vector<std::string>& lines);

}  // namespace hostlore::fleet
