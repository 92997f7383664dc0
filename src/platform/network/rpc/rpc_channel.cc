#include "platform/network/rpc/rpc_channel.h"

#include <algorithm>

#include "platform/status.h"

namespace hostlore::rpc {
namespace {

// The shortest reply a call can get: every operation called through a
// channel returns a 32-bit status, after a response PDU's header and fixed
// fields (a fault is 32 bytes, a bind acknowledgement longer still). A
// fragment that continues a reply is longer than a header, which is all
// that is counted for it.
constexpr size_t kShortestReply = kHeaderBytes + 8 + 4;

// Bytes from the start of `buffered` that are certain to arrive while
// `calls_left` replies are outstanding: every fragment whose header has
// been read in full, then the shortest reply for each call not yet ended.
// A header that does not parse stops the count; reading it again fails.
size_t CertainBytes(std::string_view buffered, size_t calls_left) {
  size_t at = 0;
  while (calls_left > 0 && buffered.size() >= at + kHeaderBytes) {
    Result<PduHeader> header = ParseHeader(buffered.substr(at));
    if (!header.ok()) return buffered.size();
    at += header->frag_length;
    if ((header->flags & kLastFragment) || header->type == ptype::kFault) --calls_left;
  }
  return at + calls_left * kShortestReply;
}

}  // namespace

Result<std::unique_ptr<RpcChannel>> RpcChannel::Bind(std::unique_ptr<PduTransport> transport,
                                                     const SyntaxId& interface_id) {
  auto channel = std::make_unique<RpcChannel>(std::move(transport));
  const uint32_t call_id = channel->next_call_id_++;
  ++channel->operations_;
  if (Status written = channel->transport_->Write(EncodeBind(call_id, interface_id));
      !written.ok()) {
    return written;
  }
  Result<std::string> reply = channel->NextFragment(1, 0);
  if (!reply.ok()) return reply.status();
  Result<BindResult> bound = ParseBindReply(reply.value(), call_id);
  if (!bound.ok()) return bound.status();
  channel->max_send_fragment_ = std::min(bound->max_send_fragment, kMaxFragment);
  return channel;
}

Result<std::string> RpcChannel::NextFragment(size_t calls_left, size_t expected) {
  for (;;) {
    size_t want = 0;
    if (received_.size() >= kHeaderBytes) {
      Result<PduHeader> header = ParseHeader(received_);
      if (!header.ok()) return header.status();
      if (received_.size() >= header->frag_length) {
        std::string fragment = received_.substr(0, header->frag_length);
        received_.erase(0, header->frag_length);
        return fragment;
      }
      // The rest of a fragment whose length is known: one exact read.
      want = header->frag_length - received_.size();
    } else {
      const size_t certain = CertainBytes(received_, calls_left);
      if (certain <= received_.size()) {
        return Status::Failure(win32::kRpcServerUnavailable, "malformed RPC reply: no fragment");
      }
      // A read that ends where the fragment ends costs one SMB read; one
      // that stops short of it or runs into the next costs another. Replies
      // to the same operation tend to be of one size, so the last one's is
      // the guess, as far as it is certain to come.
      want = certain - received_.size();
      if (expected > received_.size()) want = std::min(want, expected - received_.size());
    }
    std::string more;
    ++operations_;
    if (Status read = transport_->Read(want, more); !read.ok()) return read;
    received_ += more;
  }
}

std::vector<Result<std::string>> RpcChannel::CallBatch(const std::vector<Request>& requests) {
  std::vector<Result<std::string>> results;
  if (broken()) {
    results.assign(requests.size(), broken_);
    return results;
  }
  std::string message;
  std::vector<uint32_t> call_ids;
  for (const Request& request : requests) {
    ++calls_;
    call_ids.push_back(next_call_id_++);
    for (const std::string& fragment :
         EncodeRequest(call_ids.back(), request.opnum, request.stub, max_send_fragment_)) {
      message += fragment;
    }
  }
  ++operations_;
  if (Status written = transport_->Write(message); !written.ok()) {
    results.assign(requests.size(), Break(written));
    return results;
  }
  for (size_t i = 0; i < requests.size(); ++i) {
    ResponseAssembler assembler(call_ids[i]);
    Status failed;
    bool first = true;
    while (!assembler.complete() && failed.ok()) {
      size_t& expected = reply_sizes_[{requests[i].opnum, requests[i].size_key}];
      Result<std::string> fragment = NextFragment(requests.size() - i, first ? expected : 0);
      if (!fragment.ok()) {
        failed = Break(fragment.status());
        break;
      }
      if (first) expected = fragment->size();
      first = false;
      if (Status added = assembler.Add(fragment.value()); !added.ok()) {
        // A fault is an answer: the channel stays usable. Anything else
        // leaves the pipe at an unknown position.
        Result<PduHeader> header = ParseHeader(fragment.value());
        if (header.ok() && header->type == ptype::kFault && header->call_id == call_ids[i]) {
          failed = added;
        } else {
          failed = Break(added);
        }
      }
    }
    // Bytes read beyond the last reply mean a reply was shorter than any
    // valid one: where the next one starts is unknown.
    if (failed.ok() && i + 1 == requests.size() && !received_.empty()) {
      failed = Break(Status::Failure(win32::kRpcServerUnavailable,
                                     "malformed RPC reply: shorter than its status"));
    }
    if (failed.ok()) {
      results.emplace_back(std::move(assembler.stub()));
    } else {
      results.emplace_back(failed);
      if (broken()) {
        while (results.size() < requests.size()) results.emplace_back(broken_);
        return results;
      }
    }
  }
  return results;
}

Status RpcChannel::Break(Status why) {
  broken_ = why;
  received_.clear();
  return why;
}

Result<std::string> RpcChannel::Call(uint16_t opnum, std::string_view stub) {
  std::vector<Request> one;
  one.push_back({opnum, std::string(stub)});
  return std::move(CallBatch(one).front());
}

}  // namespace hostlore::rpc
