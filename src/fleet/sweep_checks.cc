#include "fleet/sweep_checks.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "db/connect.h"
#include "fleet/child_check.h"
#include "util/password_mask.h"

namespace hostlore::fleet {
namespace {

Status ReportFailure(const std::string& path, const std::string& why) {
  return Status::Failure(win32::kFileNotFound, "the report " + path + " cannot be written: " + why);
}

}  // namespace

Status CheckReportPath(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) return ReportFailure(path, std::strerror(EISDIR));
    if (::access(path.c_str(), W_OK) != 0) return ReportFailure(path, std::strerror(errno));
    return Status::Ok();
  }
  if (errno != ENOENT) return ReportFailure(path, std::strerror(errno));
  const std::filesystem::path parent = std::filesystem::path(path).parent_path();
  const std::string folder = parent.empty() ? std::string(".") : parent.string();
  if (::access(folder.c_str(), W_OK | X_OK) != 0) {
    return ReportFailure(path, std::string(std::strerror(errno)) + " (the folder " + folder + ")");
  }
  return Status::Ok();
}

Status CheckDatabase(const std::string& server) {
  return RunCheckInChild("the database check", [&server] {
    Result<std::shared_ptr<EngineConnection>> engine = ConnectEngine(server);
    if (engine.ok()) return Status::Ok();
    return Status::Failure(engine.status().number(),
                           "cannot connect to " + MaskPasswords(server) + ": " +
                               MaskPasswords(engine.status().description()));
  });
}

}  // namespace hostlore::fleet
