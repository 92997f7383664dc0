// The srvsvc call that tells which folder of the server a share maps to
// (NetrShareGetInfo, level 2): the registry snapshot writes its file into
// the folder behind ADMIN$ and fetches it through the share.
#pragma once

#include <string>
#include <string_view>

#include "platform/network/rpc/rpc_channel.h"

namespace hostlore::srvsvc {

const rpc::SyntaxId& InterfaceId();

namespace opnum {
inline constexpr uint16_t kNetrShareGetInfo = 16;
}  // namespace opnum

Result<std::string> EncodeShareGetInfo(std::string_view share);
// The share's local path ("C:\Windows"). Failure: the Win32 status, or
// malformed bytes.
Result<std::string> DecodeSharePath(std::string_view stub);

// The local path of `share` on the server at the other end of `channel`.
Result<std::string> SharePath(rpc::RpcChannel& channel, std::string_view share);

}  // namespace hostlore::srvsvc
