#include "platform/network/credentials.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>

namespace hostlore {
namespace {

std::string Trim(const std::string& text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string::npos) return {};
  const size_t last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

Status Refused(const std::string& path, const std::string& why) {
  return Status::Failure(win32::kAccessDenied, "HOSTLORE_AUTH_FILE " + path + ": " + why);
}

}  // namespace

Result<NetworkCredentials> ReadAuthFile(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return Refused(path, std::strerror(errno));
  if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0) {
    return Refused(path, "readable by group or others; allow the owner only (chmod 600)");
  }
  std::ifstream file(path);
  if (!file) return Refused(path, "cannot be read");
  NetworkCredentials credentials;
  credentials.kerberos = false;
  std::string line;
  while (std::getline(file, line)) {
    const size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    const std::string key = Trim(line.substr(0, equals));
    const std::string value = Trim(line.substr(equals + 1));
    if (key == "username") credentials.username = value;
    else if (key == "password") credentials.password = value;
    else if (key == "domain") credentials.domain = value;
  }
  if (const size_t slash = credentials.username.find('\\'); slash != std::string::npos) {
    credentials.domain = credentials.username.substr(0, slash);
    credentials.username.erase(0, slash + 1);
  } else if (const size_t at = credentials.username.find('@'); at != std::string::npos) {
    credentials.domain = credentials.username.substr(at + 1);
    credentials.username.erase(at);
  }
  if (credentials.username.empty()) return Refused(path, "no `username =` line");
  return credentials;
}

Result<NetworkCredentials> LoadNetworkCredentials() {
  const char* path = ::secure_getenv("HOSTLORE_AUTH_FILE");
  if (path == nullptr || *path == '\0') return NetworkCredentials{};
  return ReadAuthFile(path);
}

}  // namespace hostlore
