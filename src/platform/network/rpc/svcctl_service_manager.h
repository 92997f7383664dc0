// The service seam over svcctl, on whatever carries the pipe: one channel
// per machine for the run, opened by the caller's opener (an SMB named
// pipe for the agent; tests may use another transport).
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/network/rpc/rpc_channel.h"
#include "platform/services/service_manager.h"

namespace hostlore::svcctl {

// A bound svcctl channel to `host`. Failure: a Win32 code (53 unreachable,
// 5 refused, 1722 no such interface).
using ChannelOpener =
    std::function<Result<std::unique_ptr<rpc::RpcChannel>>(const std::string& host)>;

// `open` serves this manager; `another` gives the opener of an independent
// one (connections of its own, for another thread).
std::unique_ptr<ServiceManager> NewSvcctlServiceManager(ChannelOpener open,
                                                        std::function<ChannelOpener()> another);

}  // namespace hostlore::svcctl
