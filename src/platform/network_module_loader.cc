#include "platform/network_module_loader.h"

#include <sys/auxv.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/network/network_module.h"
#include "util/shared_library.h"

namespace hostlore {
namespace {

namespace fs = std::filesystem;

// The module path to load; failure: none of the usual places holds one.
Result<std::string> FindNetworkModule() {
  // A program that runs with more privileges than its user (file
  // capabilities, set-user-ID) loads code only from where an administrator
  // installed it: its user chose the environment, and may own the folder the
  // program was copied to.
  const bool privileged = ::getauxval(AT_SECURE) != 0;
  if (const char* chosen = ::secure_getenv("HOSTLORE_NETWORK_MODULE"); chosen != nullptr && *chosen != '\0') {
    return std::string(chosen);
  }
  std::vector<fs::path> folders;
  std::error_code error;
  if (const fs::path program = fs::read_symlink("/proc/self/exe", error); !error && !privileged) {
    folders.push_back(program.parent_path());
  }
  folders.emplace_back(HOSTLORE_INSTALLED_MODULE_DIR);
  std::string looked;
  for (const fs::path& folder : folders) {
    const fs::path candidate = folder / kNetworkModuleFile;
    if (fs::exists(candidate, error)) return candidate.string();
    looked += (looked.empty() ? "" : ", ") + folder.string();
  }
  return Status::Failure(win32::kFileNotFound,
                         std::string("network module ") + kNetworkModuleFile + " not found (looked in " + looked +
                             (privileged ? "; a program with raised privileges looks nowhere else" : "") + ")");
}

}  // namespace

Result<Platform> LoadNetworkPlatform() {
  const Result<std::string> path = FindNetworkModule();
  if (!path.ok()) return path.status();
  Result<SharedLibrary> module = SharedLibrary::Open(path.value());
  if (!module.ok()) {
    return Status::Failure(module.status().number(), "network module cannot be loaded: " +
                                                         module.status().description());
  }
  auto* entry = reinterpret_cast<HostloreNetworkEntry*>(module->Symbol(kNetworkModuleEntry));
  if (entry == nullptr) {
    return Status::Failure(win32::kInvalidParameter,
                           "network module " + path.value() + " lacks its entry " + kNetworkModuleEntry);
  }
  Platform platform;
  switch (entry(kNetworkModuleVersion, &platform)) {
    case kNetworkModuleReady:
      break;
    case kNetworkModuleOtherVersion:
      return Status::Failure(win32::kInvalidParameter,
                             "network module " + path.value() + " is of another version than the agent");
    default:
      return Status::Failure(win32::kInvalidParameter,
                             "network module " + path.value() + " could not make the network seams");
  }
  // The handle closes here; the module's code stays (SharedLibrary::Open).
  return platform;
}

}  // namespace hostlore
