// The entry of hostlore-network.so: everything else in the module is hidden.
#include "platform/network/network_module.h"

#include <type_traits>

#include "platform/network/network_platform.h"

namespace hostlore {

extern "C" __attribute__((visibility("default"))) int hostlore_network_platform(int version,
                                                                                 Platform* platform) {
  static_assert(std::is_same_v<decltype(hostlore_network_platform), HostloreNetworkEntry>);
  if (version != kNetworkModuleVersion || platform == nullptr) return kNetworkModuleOtherVersion;
  try {
    *platform = MakeNetworkPlatform();
    return kNetworkModuleReady;
  } catch (...) {  // out of memory: no exception may cross into the agent
    return kNetworkModuleFailed;
  }
}

}  // namespace hostlore
