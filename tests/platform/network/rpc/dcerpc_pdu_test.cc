// DCE/RPC fragments and the channel that exchanges them, with crafted bytes.
#include "platform/network/rpc/dcerpc_pdu.h"

#include <gtest/gtest.h>

#include <deque>

#include "platform/network/rpc/ndr.h"
#include "platform/network/rpc/rpc_channel.h"

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

// A pipe of scripted reply messages, as an SMB server serves it: one SMB
// READ returns at most one message, or the part of it that was asked for,
// and a read of more bytes than will ever come fails (a real pipe would
// wait for them). Records what was written and counts SMB READs.
class ScriptedPipe final : public PduTransport {
 public:
  void Reply(std::string message) { messages_.push_back(std::move(message)); }
  Status Write(std::string_view bytes) override {
    written.emplace_back(bytes);
    return Status::Ok();
  }
  Status Read(size_t count, std::string& out) override {
    out.clear();
    while (out.size() < count) {
      if (messages_.empty()) return Status::Failure(53, "waited for bytes that never came");
      ++smb_reads;
      std::string& next = messages_.front();
      const size_t piece = std::min(count - out.size(), next.size());
      out += next.substr(0, piece);
      next.erase(0, piece);
      if (next.empty()) messages_.pop_front();
    }
    return Status::Ok();
  }
  std::vector<std::string> written;
  int smb_reads = 0;

 private:
  std::deque<std::string> messages_;
};

// A pipe whose first reply accepts the bind, with fragments of at most
// `max_fragment` bytes.
std::unique_ptr<ScriptedPipe> NewPipe(uint16_t max_fragment = kMaxFragment) {
  auto pipe = std::make_unique<ScriptedPipe>();
  pipe->Reply(Pdu(ptype::kBindAck, 3, 1, BindAckBody(max_fragment, 0)));
  return pipe;
}

std::unique_ptr<RpcChannel> BoundChannel(std::unique_ptr<ScriptedPipe> pipe) {
  auto channel = RpcChannel::Bind(std::move(pipe), kWinreg);
  EXPECT_TRUE(channel.ok()) << channel.status().description();
  return channel.ok() ? std::move(channel).value() : nullptr;
}

TEST(RpcChannel, CallsSurviveFaultsButNotGarbage) {
  auto owned = NewPipe();
  ScriptedPipe& pipe = *owned;
  pipe.Reply(Pdu(ptype::kResponse, kFirstFragment, 2, ResponseBody("one ")));
  pipe.Reply(Pdu(ptype::kResponse, kLastFragment, 2, ResponseBody("two.")));
  pipe.Reply(Pdu(ptype::kFault, 3, 3, FaultBody(5)));
  pipe.Reply(Pdu(ptype::kResponse, 3, 4, ResponseBody("okay")));
  pipe.Reply("garbage that is no PDU at all, really");
  std::unique_ptr<RpcChannel> rpc = BoundChannel(std::move(owned));
  ASSERT_TRUE(rpc);

  Result<std::string> joined = rpc->Call(9, "x");
  ASSERT_TRUE(joined.ok());
  EXPECT_EQ(joined.value(), "one two.");
  Result<std::string> faulted = rpc->Call(9, "y");
  EXPECT_EQ(faulted.status().number(), 5);
  EXPECT_FALSE(rpc->broken());
  EXPECT_EQ(rpc->Call(9, "z").value(), "okay");
  EXPECT_FALSE(rpc->Call(9, "w").ok());
  EXPECT_TRUE(rpc->broken());
  const size_t writes = pipe.written.size();
  EXPECT_FALSE(rpc->Call(9, "v").ok());
  EXPECT_EQ(pipe.written.size(), writes);  // a broken channel sends nothing
}

TEST(RpcChannel, LargeRequestsGoInServerSizedFragments) {
  // The server accepts fragments of at most 1024 bytes.
  auto owned = NewPipe(1024);
  ScriptedPipe& pipe = *owned;
  pipe.Reply(Pdu(ptype::kResponse, 3, 2, ResponseBody("done")));
  std::unique_ptr<RpcChannel> rpc = BoundChannel(std::move(owned));
  ASSERT_TRUE(rpc);
  ASSERT_TRUE(rpc->Call(1, std::string(3000, 'q')).ok());
  ASSERT_EQ(pipe.written.size(), 2u);
  std::string_view message = pipe.written[1];
  int fragments = 0;
  while (!message.empty()) {
    Result<PduHeader> header = ParseHeader(message);
    ASSERT_TRUE(header.ok());
    EXPECT_LE(header->frag_length, 1024u);
    message.remove_prefix(std::min<size_t>(header->frag_length, message.size()));
    ++fragments;
  }
  EXPECT_EQ(fragments, 3);
}

TEST(RpcChannel, ABatchIsOneWriteAndNeverWaitsForBytesThatWillNotCome) {
  auto owned = NewPipe();
  ScriptedPipe& pipe = *owned;
  std::vector<RpcChannel::Request> requests;
  std::vector<std::string> expected;
  for (uint32_t call = 2; call < 42; ++call) {
    requests.push_back({9, "q"});
    if (call % 7 == 0) {
      pipe.Reply(Pdu(ptype::kFault, 3, call, FaultBody(0x1C010002)));
      expected.emplace_back();
    } else if (call % 5 == 0) {
      pipe.Reply(Pdu(ptype::kResponse, kFirstFragment, call, ResponseBody("two ")));
      pipe.Reply(Pdu(ptype::kResponse, kLastFragment, call, ResponseBody("pieces")));
      expected.emplace_back("two pieces");
    } else {
      expected.push_back(std::string(call * 3, 'v'));
      pipe.Reply(Pdu(ptype::kResponse, 3, call, ResponseBody(expected.back())));
    }
  }
  pipe.Reply(Pdu(ptype::kResponse, 3, 42, ResponseBody("after")));
  std::unique_ptr<RpcChannel> rpc = BoundChannel(std::move(owned));
  ASSERT_TRUE(rpc);
  std::vector<Result<std::string>> results = rpc->CallBatch(requests);
  ASSERT_EQ(results.size(), expected.size());
  for (size_t i = 0; i < results.size(); ++i) {
    if (expected[i].empty()) {
      EXPECT_EQ(results[i].status().number(), 0x1C010002) << i;
    } else {
      ASSERT_TRUE(results[i].ok()) << i << ": " << results[i].status().description();
      EXPECT_EQ(results[i].value(), expected[i]);
    }
  }
  EXPECT_FALSE(rpc->broken());
  EXPECT_EQ(pipe.written.size(), 2u);  // the bind, then the whole batch at once
  EXPECT_EQ(rpc->Call(9, "d").value(), "after");
}

TEST(RpcChannel, RepliesOfTheLengthLastSeenCostOneSmbReadEach) {
  auto owned = NewPipe();
  ScriptedPipe& pipe = *owned;
  std::unique_ptr<RpcChannel> rpc;
  constexpr int kCalls = 30;
  uint32_t call = 2;
  for (int round = 0; round < 2; ++round) {
    for (int i = 0; i < kCalls; ++i) {
      pipe.Reply(Pdu(ptype::kResponse, 3, call++, ResponseBody(std::string(96, 'v'))));
    }
    pipe.Reply(Pdu(ptype::kResponse, 3, call++, ResponseBody("last")));
  }
  rpc = BoundChannel(std::move(owned));
  ASSERT_TRUE(rpc);
  std::vector<RpcChannel::Request> requests(kCalls, {9, "q"});
  requests.push_back({4, "q"});
  int reads[2] = {0, 0};
  for (int round = 0; round < 2; ++round) {
    const int before = pipe.smb_reads;
    for (const Result<std::string>& result : rpc->CallBatch(requests)) EXPECT_TRUE(result.ok());
    reads[round] = pipe.smb_reads - before;
  }
  // Once the length is known, a reply takes one SMB read, except for the
  // last few of a batch: there the guess reaches beyond what is certain to
  // come (the shortest possible replies of the calls left), and a read
  // stops short of a reply's end.
  EXPECT_LT(reads[1], reads[0]);
  EXPECT_LE(reads[1], kCalls + 1 + 4);
  EXPECT_FALSE(rpc->broken());
}

TEST(RpcChannel, ABatchCutShortBreaksTheChannel) {
  auto owned = NewPipe();
  owned->Reply(Pdu(ptype::kResponse, 3, 2, ResponseBody("only one")));
  std::unique_ptr<RpcChannel> rpc = BoundChannel(std::move(owned));
  ASSERT_TRUE(rpc);
  std::vector<Result<std::string>> results = rpc->CallBatch({{9, "a"}, {9, "b"}});
  ASSERT_EQ(results.size(), 2u);
  EXPECT_FALSE(results[1].ok());
  EXPECT_TRUE(rpc->broken());
}

TEST(RpcChannel, AReplyShorterThanAnyValidOneBreaksTheChannel) {
  // A reply without even a status: the channel cannot know where the next
  // one starts, so it stops rather than misreading.
  auto owned = NewPipe();
  owned->Reply(Pdu(ptype::kResponse, 3, 2, ResponseBody("")));
  owned->Reply(Pdu(ptype::kResponse, 3, 3, ResponseBody("next")));
  std::unique_ptr<RpcChannel> rpc = BoundChannel(std::move(owned));
  ASSERT_TRUE(rpc);
  EXPECT_FALSE(rpc->Call(9, "a").ok());
  EXPECT_TRUE(rpc->broken());
}

}  // namespace
}  // namespace hostlore::rpc
