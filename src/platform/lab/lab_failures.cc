#include "platform/lab/lab_failures.h"

#include <string>

namespace hostlore {

Status Win32Failure(int64_t code) {
  switch (code) {
    case win32::kFileNotFound:
      return Status::Failure(code, "The system cannot find the file specified.");
    case win32::kAccessDenied:
      return Status::Failure(code, "Access is denied.");
    case win32::kBadNetPath:
      return Status::Failure(code, "The network path was not found.");
    case win32::kInvalidParameter:
      return Status::Failure(code, "The parameter is incorrect.");
    case win32::kMoreData:
      return Status::Failure(code, "More data is available.");
    case win32::kNoMoreItems:
      return Status::Failure(code, "No more data is available.");
    case win32::kRpcServerUnavailable:
      return Status::Failure(code, "The RPC server is unavailable.");
    default:
      return Status::Failure(code, "System error " + std::to_string(code) + ".");
  }
}

}  // namespace hostlore
