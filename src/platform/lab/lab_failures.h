// The failures that lab computers answer with, worded as Windows words them.
#pragma once

#include <cstdint>

#include "platform/status.h"

namespace hostlore {

// HRESULT of an RPC server that cannot be reached (0x800706BA).
inline constexpr int64_t kRpcUnavailableHresult = 0x800706BA;
// WBEM_E_INVALID_QUERY: the query text could not be understood.
inline constexpr int64_t kWbemInvalidQuery = 0x80041017;

// A failure with a Win32 system error code and its system message (for
// example 53, "The network path was not found.").
Status Win32Failure(int64_t code);

}  // namespace hostlore
