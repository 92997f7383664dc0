#include "platform/network/rpc/win32_failure.h"

#include <string>

namespace hostlore {
namespace {

const char* CodeName(uint32_t code) {
  switch (code) {
    case 2: return "not found";
    case 5: return "access denied";
    case 6: return "invalid handle";
    case 87: return "invalid parameter";
    case 122: return "buffer too small";
    case 231: return "pipe not available";
    case 234: return "more data";
    case 259: return "no more items";
    case 1053: return "the service did not respond in time";
    case 1056: return "the service is already running";
    case 1058: return "the service is disabled";
    case 1060: return "no such service";
    case 1061: return "the service cannot accept control messages now";
    case 1062: return "the service is not running";
    case 1722: return "RPC server unavailable";
    default: return nullptr;
  }
}

}  // namespace

Status Win32Failure(uint32_t code, std::string_view what) {
  std::string description(what);
  description += ": error " + std::to_string(code);
  if (const char* name = CodeName(code)) description += std::string(" (") + name + ")";
  return Status::Failure(code, description);
}

}  // namespace hostlore
