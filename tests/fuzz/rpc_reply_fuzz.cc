// Feeds arbitrary bytes to everything that decodes what an RPC server
// sends: fragment headers, bind replies, response assembly, and the winreg
// and svcctl reply stubs. None may crash, overrun or hang.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <string_view>

#include "platform/network/dcerpc_pdu.h"
#include "platform/network/svcctl_client.h"
#include "platform/network/winreg_client.h"

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace hostlore;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  // The first byte picks how the rest is split into fragments.
  const size_t split = size > 0 ? data[0] : 0;
  const std::string_view rest = bytes.substr(size > 0 ? 1 : 0);

  (void)rpc::ParseHeader(rest);
  (void)rpc::ParseBindReply(rest, 1);
  rpc::ResponseAssembler assembler(1);
  std::string_view remaining = rest;
  while (!remaining.empty()) {
    const size_t take = split == 0 ? remaining.size() : std::min(split, remaining.size());
    if (!assembler.Add(remaining.substr(0, take)).ok() || assembler.complete()) break;
    remaining.remove_prefix(take);
  }
  Require(assembler.stub().size() <= rest.size());
  (void)winreg::DecodeHandleReply(rest);
  if (auto value = winreg::DecodeQueryValue(rest); value.ok()) {
    Require(value->value.data.size() <= rest.size());
  }
  (void)winreg::DecodeEnumKey(rest);
  (void)svcctl::DecodeHandleReply(rest);
  if (auto services = svcctl::DecodeEnumServices(rest); services.ok()) {
    Require(services->display_names.size() <= rest.size() / svcctl::kRecordBytes);
  }
  return 0;
}
