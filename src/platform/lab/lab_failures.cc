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
    case win32::kPipeBusy: return Status::Failure(code, "All pipe instances are busy.");
    case win32::kServiceRequestTimeout:
      return Status::Failure(
          code, "The service did not respond to the start or control request in a timely fashion.");
    case win32::kServiceAlreadyRunning:
      return Status::Failure(code, "An instance of the service is already running.");
    case win32::kServiceDisabled:
      return Status::Failure(code,
                             "The service cannot be started, either because it is disabled or "
                             "because it has no enabled devices associated with it.");
    case win32::kServiceDoesNotExist:
      return Status::Failure(code, "The specified service does not exist as an installed service.");
    case win32::kServiceCannotAcceptControl:
      return Status::Failure(code, "The service cannot accept control messages at this time.");
    case win32::kServiceNotActive:
      return Status::Failure(code, "The service has not been started.");
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
