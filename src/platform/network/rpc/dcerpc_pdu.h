// Connection-oriented DCE/RPC PDUs as bytes: bind, request, and what comes
// back (bind_ack, bind_nak, response, fault). No authentication verifiers:
// the SMB session beneath carries the security. Pure functions, so that
// every fragment shape can be tested with crafted bytes.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace hostlore::rpc {

inline constexpr size_t kHeaderBytes = 16;
// The fragment size we offer and accept; the server may lower the send side.
inline constexpr uint16_t kMaxFragment = 4280;
// A response larger than this, over all its fragments, is refused.
inline constexpr size_t kMaxResponseStub = 16 * 1024 * 1024;

namespace ptype {
inline constexpr uint8_t kRequest = 0;
inline constexpr uint8_t kResponse = 2;
inline constexpr uint8_t kFault = 3;
inline constexpr uint8_t kBind = 11;
inline constexpr uint8_t kBindAck = 12;
inline constexpr uint8_t kBindNak = 13;
}  // namespace ptype

inline constexpr uint8_t kFirstFragment = 0x01;
inline constexpr uint8_t kLastFragment = 0x02;

// An interface (abstract syntax): UUID in its text form's byte order, and
// version.
struct SyntaxId {
  std::array<uint8_t, 16> uuid{};
  uint16_t major = 0;
  uint16_t minor = 0;
};

// "338cd001-2244-31f1-aaaa-900038001003" style text; the caller passes a
// well-formed constant.
SyntaxId MakeSyntaxId(std::string_view uuid_text, uint16_t major, uint16_t minor);

struct PduHeader {
  uint8_t type = 0;
  uint8_t flags = 0;
  uint16_t frag_length = 0;
  uint16_t auth_length = 0;
  uint32_t call_id = 0;
};

// The common header of a fragment. Failure: not version 5.0, not
// little-endian integers, or a fragment length shorter than the header.
Result<PduHeader> ParseHeader(std::string_view bytes);

std::string EncodeBind(uint32_t call_id, const SyntaxId& interface_id);

struct BindResult {
  uint16_t max_send_fragment = 0;  // largest fragment the server accepts
  uint16_t max_recv_fragment = 0;
};

// A whole bind_ack or bind_nak fragment. Failure: bind_nak, a rejected
// presentation context, or malformed bytes.
Result<BindResult> ParseBindReply(std::string_view fragment, uint32_t call_id);

// The request fragments that carry `stub`, none longer than `max_fragment`.
std::vector<std::string> EncodeRequest(uint32_t call_id, uint16_t opnum, std::string_view stub,
                                       uint16_t max_fragment);

// Joins the stub data of response fragments. Failure for a fault (the
// number is its status: an nca_s_* code, or a Win32 code such as 5), for a
// fragment of another call or type, or for malformed bytes.
class ResponseAssembler {
 public:
  explicit ResponseAssembler(uint32_t call_id) : call_id_(call_id) {}
  Status Add(std::string_view fragment);
  bool complete() const { return complete_; }
  std::string& stub() { return stub_; }

 private:
  uint32_t call_id_;
  bool started_ = false;
  bool complete_ = false;
  std::string stub_;
};

// Text for a fault status, such as "nca_s_op_rng_error".
std::string FaultName(uint32_t status);

}  // namespace hostlore::rpc
