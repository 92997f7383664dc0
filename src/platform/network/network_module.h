// The bond between the agent and hostlore-network.so, the module that holds
// the network backends. The agent loads it only when it reaches real
// computers, so that lab runs never load Samba, libcurl and GSSAPI with the
// hundred-odd shared libraries they pull in.
#pragma once

#include "platform/platform.h"

namespace hostlore {

// The module's file name, the same in the build folder and when installed.
inline constexpr char kNetworkModuleFile[] = "hostlore-network.so";
// The one symbol the module exports.
inline constexpr char kNetworkModuleEntry[] = "hostlore_network_platform";
// Raised whenever Platform or a seam interface changes, so that an agent
// never takes seams from a module built against another layout.
inline constexpr int kNetworkModuleVersion = 1;

// What the entry answers.
inline constexpr int kNetworkModuleReady = 0;
inline constexpr int kNetworkModuleOtherVersion = 1;
inline constexpr int kNetworkModuleFailed = 2;  // the seams could not be made (out of memory)

}  // namespace hostlore

extern "C" {
// Fills `*platform` with the network platform (MakeNetworkPlatform) and
// answers kNetworkModuleReady, when `version` is the module's own
// kNetworkModuleVersion; otherwise answers kNetworkModuleOtherVersion and
// leaves `*platform` alone. Never throws.
// The seams run code of the module: it must stay loaded while they live.
using HostloreNetworkEntry = int(int version, hostlore::Platform* platform);
}
