// DCE/RPC fragments and the channel that exchanges them, with crafted bytes.
#include "platform/network/dcerpc_pdu.h"

#include <gtest/gtest.h>

#include <deque>

#include "platform/network/ndr.h"
#include "platform/network/rpc_channel.h"

namespace hostlore::rpc {
namespace {

const SyntaxId kWinreg = MakeSyntaxId("338cd001-2244-31f1-aaaa-900038001003", 1, 0);

// A whole PDU: header with the right length, then `body`.
std::string Pdu(uint8_t type, uint8_t flags, uint32_t call_id, std::string_view body) {
  NdrWriter w;
  for (uint8_t b : {uint8_t{5}, uint8_t{0}, type, flags, uint8_t{0x10}, uint8_t{0}, uint8_t{0},
                    uint8_t{0}}) {
    w.U8(b);
  }
  w.U16(static_cast<uint16_t>(kHeaderBytes + body.size()));
  w.U16(0);
  w.U32(call_id);
  w.Bytes(body);
  return w.bytes();
}

std::string ResponseBody(std::string_view stub) {
  NdrWriter w;
  w.U32(static_cast<uint32_t>(stub.size()));
  w.U16(0);
  w.U8(0);
  w.U8(0);
  w.Bytes(stub);
  return w.bytes();
}

std::string FaultBody(uint32_t status) {
  NdrWriter w;
  w.U32(0);
  w.U16(0);
  w.U8(0);
  w.U8(0);
  w.U32(status);
  w.U32(0);
  return w.bytes();
}

std::string BindAckBody(uint16_t max_recv, uint16_t acceptance) {
  NdrWriter w;
  w.U16(kMaxFragment);
  w.U16(max_recv);
  w.U32(0x1234);
  w.U16(13);
  w.Bytes(std::string("\\PIPE\\winreg\0", 13));
  w.Align(4);
  w.U8(1);
  w.U8(0);
  w.U16(0);
  w.U16(acceptance);
  w.U16(acceptance == 0 ? 0 : 2);
  w.Bytes(std::string(20, '\x11'));
  return w.bytes();
}

TEST(DceRpcHeader, AcceptsVersionFiveLittleEndianOnly) {
  const std::string good = Pdu(ptype::kResponse, 3, 9, "");
  Result<PduHeader> header = ParseHeader(good);
  ASSERT_TRUE(header.ok());
  EXPECT_EQ(header->frag_length, 16);
  EXPECT_EQ(header->call_id, 9u);

  std::string wrong_version = good;
  wrong_version[0] = 4;
  EXPECT_FALSE(ParseHeader(wrong_version).ok());
  std::string big_endian = good;
  big_endian[4] = 0x00;
  EXPECT_FALSE(ParseHeader(big_endian).ok());
  std::string too_short_length = good;
  too_short_length[8] = 15;
  EXPECT_FALSE(ParseHeader(too_short_length).ok());
  EXPECT_FALSE(ParseHeader(good.substr(0, 15)).ok());
}

TEST(DceRpcBind, EncodesInterfaceInWireOrder) {
  const std::string bind = EncodeBind(1, kWinreg);
  ASSERT_EQ(bind.size(), 72u);
  EXPECT_EQ(static_cast<uint8_t>(bind[2]), ptype::kBind);
  EXPECT_EQ(static_cast<uint8_t>(bind[8]), 72);
  // The interface uuid's first three fields are little-endian on the wire.
  const std::string uuid("\x01\xd0\x8c\x33\x44\x22\xf1\x31\xaa\xaa\x90\x00\x38\x00\x10\x03", 16);
  EXPECT_EQ(bind.substr(32, 16), uuid);
  EXPECT_EQ(bind.substr(48, 4), std::string("\x01\x00\x00\x00", 4));
  // NDR transfer syntax, version 2.
  EXPECT_EQ(bind.substr(52, 4), std::string("\x04\x5d\x88\x8a", 4));
  EXPECT_EQ(bind.substr(68, 4), std::string("\x02\x00\x00\x00", 4));
}

TEST(DceRpcBind, ReadsAcceptanceRejectionAndNak) {
  Result<BindResult> accepted = ParseBindReply(Pdu(ptype::kBindAck, 3, 1, BindAckBody(2048, 0)), 1);
  ASSERT_TRUE(accepted.ok()) << accepted.status().description();
  EXPECT_EQ(accepted->max_send_fragment, 2048);

  EXPECT_FALSE(ParseBindReply(Pdu(ptype::kBindAck, 3, 1, BindAckBody(2048, 2)), 1).ok());
  EXPECT_FALSE(ParseBindReply(Pdu(ptype::kBindAck, 3, 2, BindAckBody(2048, 0)), 1).ok());
  Result<BindResult> nak = ParseBindReply(Pdu(ptype::kBindNak, 3, 1, std::string("\x04\0", 2)), 1);
  ASSERT_FALSE(nak.ok());
  EXPECT_EQ(nak.status().number(), 1722);
  const std::string ack = Pdu(ptype::kBindAck, 3, 1, BindAckBody(2048, 0));
  for (size_t cut = 16; cut < ack.size(); ++cut) {
    std::string truncated = ack.substr(0, cut);
    truncated[8] = static_cast<char>(cut);
    EXPECT_FALSE(ParseBindReply(truncated, 1).ok()) << cut;
  }
}

TEST(DceRpcRequest, FragmentsLongStubsAndRejoinsThem) {
  std::string stub;
  for (int i = 0; i < 10000; ++i) stub += static_cast<char>(i * 7);
  const std::vector<std::string> fragments = EncodeRequest(5, 17, stub, 4280);
  ASSERT_EQ(fragments.size(), 3u);
  std::string joined;
  size_t remaining = stub.size();
  for (size_t i = 0; i < fragments.size(); ++i) {
    const std::string& f = fragments[i];
    Result<PduHeader> header = ParseHeader(f);
    ASSERT_TRUE(header.ok());
    EXPECT_LE(f.size(), 4280u);
    EXPECT_EQ(header->frag_length, f.size());
    EXPECT_EQ(header->flags & kFirstFragment, i == 0 ? kFirstFragment : 0);
    EXPECT_EQ(header->flags & kLastFragment, i == 2 ? kLastFragment : 0);
    NdrReader r(std::string_view(f).substr(16));
    EXPECT_EQ(r.U32(), remaining);  // allocation hint
    r.U16();
    EXPECT_EQ(r.U16(), 17);  // opnum
    joined += f.substr(24);
    remaining -= f.size() - 24;
  }
  EXPECT_EQ(joined, stub);
  EXPECT_EQ(EncodeRequest(1, 0, "", 4280).size(), 1u);
}

TEST(DceRpcResponse, JoinsFragmentsAndReportsFaults) {
  ResponseAssembler two(7);
  ASSERT_TRUE(two.Add(Pdu(ptype::kResponse, kFirstFragment, 7, ResponseBody("abcd"))).ok());
  EXPECT_FALSE(two.complete());
  ASSERT_TRUE(two.Add(Pdu(ptype::kResponse, kLastFragment, 7, ResponseBody("efgh"))).ok());
  EXPECT_TRUE(two.complete());
  EXPECT_EQ(two.stub(), "abcdefgh");

  ResponseAssembler fault(7);
  Status failed = fault.Add(Pdu(ptype::kFault, 3, 7, FaultBody(0x1C010002)));
  EXPECT_EQ(failed.number(), 0x1C010002);
  EXPECT_NE(failed.description().find("nca_s_op_rng_error"), std::string::npos);

  EXPECT_FALSE(ResponseAssembler(7).Add(Pdu(ptype::kResponse, 3, 8, ResponseBody(""))).ok());
  EXPECT_FALSE(ResponseAssembler(7).Add(Pdu(ptype::kResponse, kLastFragment, 7, "")).ok());
  ResponseAssembler twice_first(7);
  ASSERT_TRUE(twice_first.Add(Pdu(ptype::kResponse, kFirstFragment, 7, ResponseBody("a"))).ok());
  EXPECT_FALSE(twice_first.Add(Pdu(ptype::kResponse, kFirstFragment, 7, ResponseBody("b"))).ok());
  std::string lying = Pdu(ptype::kResponse, 3, 7, ResponseBody("abcd"));
  lying[8] = 40;
  EXPECT_FALSE(ResponseAssembler(7).Add(lying).ok());
}

// Replays scripted replies; records what was written.
class ScriptedTransport final : public PduTransport {
 public:
  explicit ScriptedTransport(std::string replies) : replies_(std::move(replies)) {}
  Status Write(std::string_view bytes) override {
    written.emplace_back(bytes);
    return Status::Ok();
  }
  Status Read(size_t count, std::string& out) override {
    ++reads;
    if (count > replies_.size()) return Status::Failure(53, "peer gone");
    out = replies_.substr(0, count);
    replies_.erase(0, count);
    return Status::Ok();
  }
  std::vector<std::string> written;
  int reads = 0;

 private:
  std::string replies_;
};

TEST(RpcChannel, BindsCallsAndSurvivesFaultsButNotGarbage) {
  std::string script = Pdu(ptype::kBindAck, 3, 1, BindAckBody(kMaxFragment, 0));
  script += Pdu(ptype::kResponse, kFirstFragment, 2, ResponseBody("one "));
  script += Pdu(ptype::kResponse, kLastFragment, 2, ResponseBody("two"));
  script += Pdu(ptype::kFault, 3, 3, FaultBody(5));
  script += Pdu(ptype::kResponse, 3, 4, ResponseBody("ok"));
  script += "garbage that is no PDU";
  auto transport = std::make_unique<ScriptedTransport>(script);
  ScriptedTransport* seen = transport.get();
  Result<std::unique_ptr<RpcChannel>> channel = RpcChannel::Bind(std::move(transport), kWinreg);
  ASSERT_TRUE(channel.ok()) << channel.status().description();
  RpcChannel& rpc = *channel.value();

  Result<std::string> joined = rpc.Call(9, "x");
  ASSERT_TRUE(joined.ok());
  EXPECT_EQ(joined.value(), "one two");
  Result<std::string> faulted = rpc.Call(9, "y");
  EXPECT_EQ(faulted.status().number(), 5);
  EXPECT_FALSE(rpc.broken());
  EXPECT_EQ(rpc.Call(9, "z").value(), "ok");
  EXPECT_FALSE(rpc.Call(9, "w").ok());
  EXPECT_TRUE(rpc.broken());
  const size_t writes = seen->written.size();
  EXPECT_FALSE(rpc.Call(9, "v").ok());
  EXPECT_EQ(seen->written.size(), writes);  // a broken channel sends nothing
}

TEST(RpcChannel, LargeRequestsGoInServerSizedFragments) {
  // The server accepts fragments of at most 1024 bytes.
  std::string script = Pdu(ptype::kBindAck, 3, 1, BindAckBody(1024, 0));
  script += Pdu(ptype::kResponse, 3, 2, ResponseBody(""));
  auto transport = std::make_unique<ScriptedTransport>(script);
  ScriptedTransport* seen = transport.get();
  auto channel = RpcChannel::Bind(std::move(transport), kWinreg);
  ASSERT_TRUE(channel.ok());
  ASSERT_TRUE(channel.value()->Call(1, std::string(3000, 'q')).ok());
  ASSERT_EQ(seen->written.size(), 1u + 3u);
  for (const std::string& fragment : seen->written) EXPECT_LE(fragment.size(), 1024u);
}

TEST(RpcChannel, ABatchIsOneWriteAndOneReadPerResponsePlusOne) {
  std::string script = Pdu(ptype::kBindAck, 3, 1, BindAckBody(kMaxFragment, 0));
  script += Pdu(ptype::kResponse, 3, 2, ResponseBody("first"));
  script += Pdu(ptype::kFault, 3, 3, FaultBody(0x1C010002));
  script += Pdu(ptype::kResponse, kFirstFragment, 4, ResponseBody("two "));
  script += Pdu(ptype::kResponse, kLastFragment, 4, ResponseBody("pieces"));
  script += Pdu(ptype::kResponse, 3, 5, ResponseBody("after"));
  auto transport = std::make_unique<ScriptedTransport>(script);
  ScriptedTransport* seen = transport.get();
  auto channel = RpcChannel::Bind(std::move(transport), kWinreg);
  ASSERT_TRUE(channel.ok());
  const int reads_before = seen->reads;
  std::vector<Result<std::string>> results =
      channel.value()->CallBatch({{9, "a"}, {9, "b"}, {9, "c"}});
  ASSERT_EQ(results.size(), 3u);
  EXPECT_EQ(results[0].value(), "first");
  EXPECT_EQ(results[1].status().number(), 0x1C010002);
  EXPECT_EQ(results[2].value(), "two pieces");
  EXPECT_EQ(seen->written.size(), 2u);  // the bind, then the whole batch at once
  EXPECT_EQ(seen->reads - reads_before, 4 + 1);  // four fragments
  EXPECT_EQ(channel.value()->Call(9, "d").value(), "after");
}

TEST(RpcChannel, ABatchCutShortBreaksTheChannel) {
  std::string script = Pdu(ptype::kBindAck, 3, 1, BindAckBody(kMaxFragment, 0));
  script += Pdu(ptype::kResponse, 3, 2, ResponseBody("only one"));
  auto channel = RpcChannel::Bind(std::make_unique<ScriptedTransport>(script), kWinreg);
  ASSERT_TRUE(channel.ok());
  std::vector<Result<std::string>> results = channel.value()->CallBatch({{9, "a"}, {9, "b"}});
  ASSERT_EQ(results.size(), 2u);
  EXPECT_FALSE(results[0].ok());  // its read took the missing next header too
  EXPECT_FALSE(results[1].ok());
  EXPECT_TRUE(channel.value()->broken());
}

}  // namespace
}  // namespace hostlore::rpc
