#include "platform/network/rpc_channel.h"

#include <algorithm>

namespace hostlore::rpc {

Result<std::unique_ptr<RpcChannel>> RpcChannel::Bind(std::unique_ptr<PduTransport> transport,
                                                     const SyntaxId& interface_id) {
  auto channel = std::make_unique<RpcChannel>(std::move(transport));
  const uint32_t call_id = channel->next_call_id_++;
  ++channel->operations_;
  if (Status written = channel->transport_->Write(EncodeBind(call_id, interface_id));
      !written.ok()) {
    return written;
  }
  Result<std::string> reply = channel->ReadFragment();
  if (!reply.ok()) return reply.status();
  Result<BindResult> bound = ParseBindReply(reply.value(), call_id);
  if (!bound.ok()) return bound.status();
  channel->max_send_fragment_ = std::min(bound->max_send_fragment, kMaxFragment);
  return channel;
}

Result<std::string> RpcChannel::ReadFragment() {
  // A read blocks until it has every byte asked for, so the header comes
  // first and says how much follows.
  std::string fragment;
  ++operations_;
  if (Status read = transport_->Read(kHeaderBytes, fragment); !read.ok()) return read;
  Result<PduHeader> header = ParseHeader(fragment);
  if (!header.ok()) return header.status();
  const size_t rest = header->frag_length - kHeaderBytes;
  if (rest > 0) {
    std::string body;
    ++operations_;
    if (Status read = transport_->Read(rest, body); !read.ok()) return read;
    fragment += body;
  }
  return fragment;
}

Result<std::string> RpcChannel::ReadChained(std::string& header, bool chain) {
  Result<PduHeader> parsed = ParseHeader(header);
  if (!parsed.ok()) return parsed.status();
  const size_t rest = parsed->frag_length - kHeaderBytes;
  const size_t wanted = rest + (chain ? kHeaderBytes : 0);
  std::string fragment = header;
  header.clear();
  if (wanted > 0) {
    std::string body;
    ++operations_;
    if (Status read = transport_->Read(wanted, body); !read.ok()) return read;
    fragment += body.substr(0, rest);
    if (chain) header = body.substr(rest);
  }
  return fragment;
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
  std::string header;
  ++operations_;
  if (Status read = transport_->Read(kHeaderBytes, header); !read.ok()) {
    results.assign(requests.size(), Break(read));
    return results;
  }
  for (size_t i = 0; i < requests.size(); ++i) {
    ResponseAssembler assembler(call_ids[i]);
    Status failed;
    while (!assembler.complete() && failed.ok()) {
      Result<PduHeader> parsed = ParseHeader(header);
      if (!parsed.ok()) {
        failed = Break(parsed.status());
        break;
      }
      // More is coming after this fragment unless it ends the last call.
      const bool chain = !(parsed->flags & kLastFragment) || i + 1 < requests.size();
      Result<std::string> fragment = ReadChained(header, chain);
      if (!fragment.ok()) {
        failed = Break(fragment.status());
        break;
      }
      if (Status added = assembler.Add(fragment.value()); !added.ok()) {
        if (parsed->type == ptype::kFault && parsed->call_id == call_ids[i]) {
          failed = added;
        } else {
          failed = Break(added);
        }
      }
    }
    if (!failed.ok()) {
      results.emplace_back(failed);
      if (broken()) {
        while (results.size() < requests.size()) results.emplace_back(broken_);
        return results;
      }
    } else {
      results.emplace_back(std::move(assembler.stub()));
    }
  }
  return results;
}

Status RpcChannel::Break(Status why) {
  broken_ = why;
  return why;
}

Result<std::string> RpcChannel::Call(uint16_t opnum, std::string_view stub) {
  if (broken()) return broken_;
  ++calls_;
  const uint32_t call_id = next_call_id_++;
  for (const std::string& fragment : EncodeRequest(call_id, opnum, stub, max_send_fragment_)) {
    ++operations_;
    if (Status written = transport_->Write(fragment); !written.ok()) return Break(written);
  }
  ResponseAssembler assembler(call_id);
  while (!assembler.complete()) {
    Result<std::string> fragment = ReadFragment();
    if (!fragment.ok()) return Break(fragment.status());
    if (Status added = assembler.Add(fragment.value()); !added.ok()) {
      // A fault is an answer: the channel stays usable. Anything else
      // leaves the pipe at an unknown position.
      Result<PduHeader> header = ParseHeader(fragment.value());
      if (header.ok() && header->type == ptype::kFault && header->call_id == call_id) return added;
      return Break(added);
    }
  }
  return std::move(assembler.stub());
}

}  // namespace hostlore::rpc
