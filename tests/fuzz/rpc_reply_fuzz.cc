// Feeds arbitrary bytes to everything that decodes what an RPC server
// sends: fragment headers, bind replies, response assembly, a channel
// reading a batch of replies, and the winreg, svcctl and srvsvc reply stubs. None
// may crash, overrun or hang.
#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <string_view>

#include "platform/network/rpc/dcerpc_pdu.h"
#include "platform/network/rpc/rpc_channel.h"
#include "platform/network/rpc/srvsvc_share_path.h"
#include "platform/network/rpc/svcctl_client.h"
#include "platform/network/rpc/svcctl_service_messages.h"
#include "platform/network/rpc/winreg_client.h"
#include "platform/network/rpc/winreg_multiple_values.h"

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

// The input as a pipe's bytes; asking for more than is left fails, as a
// pipe that waits forever would time out.
class BytesPipe final : public hostlore::rpc::PduTransport {
 public:
  explicit BytesPipe(std::string_view bytes) : bytes_(bytes) {}
  hostlore::Status Write(std::string_view) override { return hostlore::Status::Ok(); }
  hostlore::Status Read(size_t count, std::string& out) override {
    if (count > bytes_.size()) return hostlore::Status::Failure(53, "no more bytes");
    out.assign(bytes_.substr(0, count));
    bytes_.remove_prefix(count);
    return hostlore::Status::Ok();
  }

 private:
  std::string_view bytes_;
};

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
  (void)winreg::DecodeStatusReply(rest);
  if (auto path = srvsvc::DecodeSharePath(rest); path.ok()) Require(path->size() <= rest.size() * 2);
  if (auto values = winreg::DecodeQueryMultipleValues(rest, split % 5); values.ok()) {
    for (const RegistryValue& value : values->values) Require(value.data.size() <= rest.size());
  }
  // A channel whose calls (the bind reply forged in front) read the rest.
  rpc::RpcChannel channel(std::make_unique<BytesPipe>(rest));
  std::vector<rpc::RpcChannel::Request> requests(split % 7 + 1, {9, "q", split % 2});
  for (int round = 0; round < 2 && !channel.broken(); ++round) {
    Require(channel.CallBatch(requests).size() == requests.size());
  }
  (void)svcctl::DecodeHandleReply(rest);
  if (auto services = svcctl::DecodeEnumServices(rest); services.ok()) {
    Require(services->display_names.size() <= rest.size() / svcctl::kRecordBytes);
  }
  (void)svcctl::DecodeServiceStatus(rest, "QueryServiceStatus");
  (void)svcctl::DecodeStartType(rest);
  (void)svcctl::DecodeChangeServiceConfig(rest);
  (void)svcctl::DecodeStatus(rest, "StartServiceW");
  return 0;
}
