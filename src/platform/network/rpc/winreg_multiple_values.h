// BaseRegQueryMultipleValues: several values of one open key in one call.
// The server fails the whole call when any of the names is missing, so it
// suits names that are expected to be there.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/network/rpc/ndr.h"
#include "platform/registry/registry.h"
#include "platform/status.h"

namespace hostlore::winreg {

namespace opnum {
inline constexpr uint16_t kQueryMultipleValues = 29;
}  // namespace opnum

// The request for `names` of `key`, offering `buffer_bytes` for all their
// data together. The buffer is an in-out parameter, so its bytes travel
// in the request too (as zeros).
Result<std::string> EncodeQueryMultipleValues(const rpc::ContextHandle& key,
                                              const std::vector<std::string>& names,
                                              uint32_t buffer_bytes);

struct MultipleValuesReply {
  uint32_t status = 0;             // Win32 code: 0, 2, 234 (buffer too small), ...
  std::vector<RegistryValue> values;  // one per name asked for, when status is 0
  uint32_t size_needed = 0;        // with 234: the buffer that would do
};
// Failure: malformed bytes, or a reply whose entries do not match the
// `count` names asked for or point outside the data.
Result<MultipleValuesReply> DecodeQueryMultipleValues(std::string_view stub, size_t count);

}  // namespace hostlore::winreg
