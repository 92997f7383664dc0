// Feeds arbitrary bytes to the readers of WS-Management responses: they must
// answer with a page or a failure, never crash, hang or read out of bounds.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/network/wsman/base64.h"
#include "platform/network/wsman/wsman_response.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  hostlore::Result<hostlore::wsman::Page> page = hostlore::wsman::ParseEnumerationResponse(text);
  if (page.ok()) {
    for (const hostlore::wsman::Instance& instance : page->instances) {
      for (const auto& [name, value] : instance.properties) (void)instance.Get(name);
      (void)instance.Get("Caption");
    }
  }
  (void)hostlore::wsman::ParseIdentifyResponse(text);
  (void)hostlore::wsman::DecodeBase64(text);
  return 0;
}
