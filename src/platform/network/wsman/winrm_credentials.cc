#include "platform/network/wsman/winrm_credentials.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>

namespace hostlore::wsman {
namespace {

constexpr int64_t kAccessDeniedHresult = 0x80070005;

std::string Trimmed(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return "";
  return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

Status Refused(const std::string& path, const std::string& why) {
  return Status::Failure(kAccessDeniedHresult, "The authentication file " + path + " " + why);
}

}  // namespace

Result<WinrmCredentials> LoadWinrmCredentials() {
  const char* path = std::getenv("HOSTLORE_AUTH_FILE");
  if (path == nullptr || *path == '\0') return WinrmCredentials{};
  return ReadWinrmAuthFile(path);
}

Result<WinrmCredentials> ReadWinrmAuthFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return Refused(path, "cannot be read.");
  if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    return Refused(path, "may be read by group or others; allow its owner only (chmod 600).");
  }
  std::ifstream file(path);
  if (!file) return Refused(path, "cannot be read.");
  WinrmCredentials credentials;
  credentials.kerberos = false;
  std::string line;
  while (std::getline(file, line)) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = Trimmed(line.substr(0, equals));
    std::string value = Trimmed(line.substr(equals + 1));
    if (key == "username") credentials.username = std::move(value);
    if (key == "password") credentials.password = std::move(value);
    if (key == "domain") credentials.domain = std::move(value);
  }
  if (const size_t slash = credentials.username.find('\\'); slash != std::string::npos) {
    credentials.domain = credentials.username.substr(0, slash);
    credentials.username.erase(0, slash + 1);
  } else if (const size_t at = credentials.username.find('@'); at != std::string::npos) {
    credentials.domain = credentials.username.substr(at + 1);
    credentials.username.erase(at);
  }
  if (credentials.username.empty()) return Refused(path, "names no user.");
  return credentials;
}

}  // namespace hostlore::wsman
