#include "fleet/agent_folders.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>

#include "diag/temp_folder.h"

namespace hostlore::fleet {

namespace fs = std::filesystem;

Result<std::unique_ptr<AgentFolders>> AgentFolders::Create() {
  std::error_code error;
  fs::path base = fs::temp_directory_path(error);
  if (error) base = "/tmp";
  std::string templ = (base / "hostlore-fleet-XXXXXX").string();
  if (::mkdtemp(templ.data()) == nullptr) {
    return Status::Failure(errno, "cannot create a work folder in " + base.string());
  }
  return std::make_unique<AgentFolders>(templ);
}

AgentFolders::~AgentFolders() {
  std::error_code ignored;
  fs::remove_all(root_, ignored);
}

fs::path AgentFolders::SlotFolder(int slot) const { return root_ / std::to_string(slot); }

Result<fs::path> AgentFolders::Prepare(int slot) const {
  const fs::path folder = SlotFolder(slot);
  std::error_code error;
  // Emptied in place, and agent.out left for the spawner to truncate: a
  // folder and a file made anew for every agent kept the file system's inode
  // allocator busy for longer than the agent's own start took.
  if (!fs::create_directory(folder, error) && !error) {
    std::vector<fs::path> stale;
    for (fs::directory_iterator it(folder, error); !error && it != fs::directory_iterator(); it.increment(error)) {
      if (it->path().filename() != kAgentOutput) stale.push_back(it->path());
    }
    for (const fs::path& path : stale) {
      if (!error) fs::remove_all(path, error);
    }
  }
  if (error) return Status::Failure(error.value(), folder.string() + ": " + error.message());
  return folder;
}

std::vector<std::string> AgentFolders::LogLines(int slot) const {
  std::ifstream in(SlotFolder(slot) / "Kelvarn.log", std::ios::binary);
  std::vector<std::string> lines;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) lines.push_back(std::move(line));
  }
  return lines;
}

std::string SharedLogPath() { return ReadTempFolder() + "/Kelvarn.log"; }

void AppendLogLines(const std::string& path, const std::vector<std::string>& lines) {
  if (lines.empty()) return;
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0640);
  if (fd < 0) return;
  for (const std::string& line : lines) {
    const std::string text = line + "\r\n";
    [[maybe_unused]] const ssize_t written = ::write(fd, text.data(), text.size());
  }
  ::close(fd);
}

}  // namespace hostlore::fleet
