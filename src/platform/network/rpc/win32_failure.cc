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
    case 234: return "more data";
    case 259: return "no more items";
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
