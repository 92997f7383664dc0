#include "platform/network/rpc/dcerpc_pdu.h"

#include <cstdio>

#include "platform/network/rpc/ndr.h"

namespace hostlore::rpc {
namespace {

constexpr uint8_t kVersion = 5;
constexpr uint8_t kVersionMinor = 0;
// Little-endian integers, ASCII characters, IEEE floating point.
constexpr uint8_t kDataRepresentation = 0x10;

// The NDR transfer syntax, version 2.
const SyntaxId& NdrSyntax() {
  static const SyntaxId ndr = MakeSyntaxId("8a885d04-1ceb-11c9-9fe8-08002b104860", 2, 0);
  return ndr;
}

void WriteHeader(NdrWriter& w, uint8_t type, uint8_t flags, uint32_t call_id) {
  w.U8(kVersion);
  w.U8(kVersionMinor);
  w.U8(type);
  w.U8(flags);
  w.U8(kDataRepresentation);
  w.U8(0);
  w.U8(0);
  w.U8(0);
  w.U16(0);  // fragment length, stored once known
  w.U16(0);  // no authentication verifier
  w.U32(call_id);
}

std::string WithLength(std::string pdu) {
  pdu[8] = static_cast<char>(pdu.size() & 0xFF);
  pdu[9] = static_cast<char>(pdu.size() >> 8);
  return pdu;
}

// The uuid's first three fields are little-endian integers on the wire.
void WriteSyntax(NdrWriter& w, const SyntaxId& id) {
  const auto& u = id.uuid;
  w.U32(static_cast<uint32_t>(u[0]) << 24 | u[1] << 16 | u[2] << 8 | u[3]);
  w.U16(static_cast<uint16_t>(u[4] << 8 | u[5]));
  w.U16(static_cast<uint16_t>(u[6] << 8 | u[7]));
  for (size_t i = 8; i < 16; ++i) w.U8(u[i]);
  w.U16(id.major);
  w.U16(id.minor);
}

Status Malformed(const std::string& what) {
  return Status::Failure(win32::kRpcServerUnavailable, "malformed RPC reply: " + what);
}

}  // namespace

SyntaxId MakeSyntaxId(std::string_view uuid_text, uint16_t major, uint16_t minor) {
  SyntaxId id;
  id.major = major;
  id.minor = minor;
  size_t byte = 0;
  int nibbles = 0;
  for (char c : uuid_text) {
    int value;
    if (c >= '0' && c <= '9') value = c - '0';
    else if (c >= 'a' && c <= 'f') value = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F') value = c - 'A' + 10;
    else continue;
    if (byte >= id.uuid.size()) break;
    id.uuid[byte] = static_cast<uint8_t>(id.uuid[byte] << 4 | value);
    if (++nibbles % 2 == 0) ++byte;
  }
  return id;
}

Result<PduHeader> ParseHeader(std::string_view bytes) {
  NdrReader r(bytes);
  const uint8_t version = r.U8();
  const uint8_t minor = r.U8();
  PduHeader h;
  h.type = r.U8();
  h.flags = r.U8();
  const uint8_t representation = r.U8();
  r.Bytes(3);
  h.frag_length = r.U16();
  h.auth_length = r.U16();
  h.call_id = r.U32();
  if (!r.ok()) return Malformed("short header");
  if (version != kVersion || minor != kVersionMinor) return Malformed("not DCE/RPC 5.0");
  if ((representation & 0xF0) != kDataRepresentation) return Malformed("big-endian data");
  if (h.frag_length < kHeaderBytes) return Malformed("fragment shorter than its header");
  return h;
}

std::string EncodeBind(uint32_t call_id, const SyntaxId& interface_id) {
  NdrWriter w;
  WriteHeader(w, ptype::kBind, kFirstFragment | kLastFragment, call_id);
  w.U16(kMaxFragment);  // largest fragment we send
  w.U16(kMaxFragment);  // largest fragment we accept
  w.U32(0);             // a new association group
  w.U8(1);              // one presentation context
  w.U8(0);
  w.U16(0);
  w.U16(0);  // context id
  w.U8(1);   // one transfer syntax
  w.U8(0);
  WriteSyntax(w, interface_id);
  WriteSyntax(w, NdrSyntax());
  return WithLength(w.bytes());
}

Result<BindResult> ParseBindReply(std::string_view fragment, uint32_t call_id) {
  Result<PduHeader> header = ParseHeader(fragment);
  if (!header.ok()) return header.status();
  if (header->frag_length != fragment.size()) return Malformed("bind reply length");
  if (header->call_id != call_id) return Malformed("bind reply to another call");
  NdrReader r(fragment.substr(kHeaderBytes));
  if (header->type == ptype::kBindNak) {
    const uint16_t reason = r.U16();
    return Status::Failure(win32::kRpcServerUnavailable,
                           "the server refused the RPC bind (reason " + std::to_string(reason) + ")");
  }
  if (header->type != ptype::kBindAck) return Malformed("unexpected reply to a bind");
  BindResult result;
  result.max_recv_fragment = r.U16();  // what the server transmits
  result.max_send_fragment = r.U16();  // what the server receives
  r.U32();  // association group
  const uint16_t address_length = r.U16();
  r.Bytes(address_length);
  // The result list starts 4-aligned relative to the whole PDU; the body
  // starts at 16, so alignment relative to it is the same.
  r.Align(4);
  const uint8_t results = r.U8();
  r.U8();
  r.U16();
  const uint16_t acceptance = r.U16();
  const uint16_t reason = r.U16();
  r.Bytes(20);  // transfer syntax
  if (!r.ok() || results < 1) return Malformed("short bind_ack");
  if (acceptance != 0) {
    return Status::Failure(win32::kRpcServerUnavailable,
                           "the server rejected the RPC interface (result " +
                               std::to_string(acceptance) + ", reason " + std::to_string(reason) +
                               ")");
  }
  if (result.max_send_fragment < kHeaderBytes + 8 + 8) return Malformed("tiny fragment size");
  return result;
}

std::vector<std::string> EncodeRequest(uint32_t call_id, uint16_t opnum, std::string_view stub,
                                       uint16_t max_fragment) {
  constexpr size_t kRequestHeader = kHeaderBytes + 8;
  // Stub pieces stay 8-aligned so that no fragment splits NDR alignment
  // assumptions of a careless server.
  const size_t piece = (max_fragment - kRequestHeader) / 8 * 8;
  std::vector<std::string> fragments;
  size_t offset = 0;
  do {
    const size_t size = std::min(piece, stub.size() - offset);
    uint8_t flags = 0;
    if (offset == 0) flags |= kFirstFragment;
    if (offset + size == stub.size()) flags |= kLastFragment;
    NdrWriter w;
    WriteHeader(w, ptype::kRequest, flags, call_id);
    w.U32(static_cast<uint32_t>(stub.size() - offset));  // allocation hint
    w.U16(0);                                            // context id
    w.U16(opnum);
    w.Bytes(stub.substr(offset, size));
    fragments.push_back(WithLength(w.bytes()));
    offset += size;
  } while (offset < stub.size());
  return fragments;
}

Status ResponseAssembler::Add(std::string_view fragment) {
  Result<PduHeader> header = ParseHeader(fragment);
  if (!header.ok()) return header.status();
  if (header->frag_length != fragment.size()) return Malformed("fragment length");
  if (header->call_id != call_id_) return Malformed("reply to another call");
  if (complete_) return Malformed("fragment after the last one");
  const size_t body_end = fragment.size() - header->auth_length;
  if (header->auth_length > fragment.size() - kHeaderBytes) return Malformed("verifier length");
  NdrReader r(fragment.substr(kHeaderBytes, body_end - kHeaderBytes));
  r.U32();  // allocation hint
  r.U16();  // context id
  r.U8();   // cancel count
  r.U8();
  if (header->type == ptype::kFault) {
    const uint32_t status = r.U32();
    if (!r.ok()) return Malformed("short fault");
    return Status::Failure(status, "RPC fault " + FaultName(status));
  }
  if (header->type != ptype::kResponse) return Malformed("unexpected PDU type");
  if (!r.ok()) return Malformed("short response");
  const bool first = header->flags & kFirstFragment;
  if (first == started_) return Malformed("fragments out of order");
  started_ = true;
  const size_t piece = r.remaining();
  if (stub_.size() + piece > kMaxResponseStub) return Malformed("response too large");
  stub_.append(r.Bytes(piece));
  complete_ = header->flags & kLastFragment;
  return Status::Ok();
}

std::string FaultName(uint32_t status) {
  switch (status) {
    case 0x1C010002: return "nca_s_op_rng_error";
    case 0x1C010003: return "nca_s_unk_if";
    case 0x1C00001C: return "nca_s_fault_remote_no_memory";
    case 0x1C00001A: return "nca_s_fault_invalid_tag";
    case 0x1C000021: return "nca_s_fault_context_mismatch";
    case 0x000006F7: return "ndr marshaling error (0x000006f7)";
    case 5: return "access denied";
    default: {
      char text[16];
      std::snprintf(text, sizeof text, "0x%08x", status);
      return text;
    }
  }
}

}  // namespace hostlore::rpc
