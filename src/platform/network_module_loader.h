// Loading the network backends, which live in a module of their own.
#pragma once

#include "platform/platform.h"

namespace hostlore {

// The network platform from hostlore-network.so, looked for
// - at the path in HOSTLORE_NETWORK_MODULE when that is set (and only there),
// - otherwise next to the running program (/proc/self/exe), then in the
//   folder it is installed to (HOSTLORE_INSTALLED_MODULE_DIR at build time).
// A program in secure-execution mode (file capabilities, set-user-ID: the
// kernel's AT_SECURE) looks only in the installed folder.
// The module stays loaded for the life of the process.
// Failure: no module found, or the module cannot be loaded, lacks its entry
// or is of another version; the description names the file and the reason.
Result<Platform> LoadNetworkPlatform();

}  // namespace hostlore
