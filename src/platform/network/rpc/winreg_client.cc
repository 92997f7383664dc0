#include "platform/network/rpc/winreg_client.h"

#include <algorithm>
#include <functional>

#include "platform/network/rpc/win32_failure.h"
#include "platform/network/rpc/winreg_multiple_values.h"

namespace hostlore::winreg {

std::vector<Result<std::string>> WinregClient::Exchange(
    std::vector<rpc::RpcChannel::Request> requests) {
  const size_t closes = pending_closes_.size();
  std::vector<rpc::RpcChannel::Request> all;
  for (const rpc::ContextHandle& key : pending_closes_) {
    all.push_back({opnum::kCloseKey, EncodeCloseKey(key)});
  }
  pending_closes_.clear();
  for (auto& request : requests) all.push_back(std::move(request));
  std::vector<Result<std::string>> results =
      all.size() == 1 ? std::vector<Result<std::string>>{channel_->Call(all[0].opnum, all[0].stub)}
                      : channel_->CallBatch(all);
  results.erase(results.begin(), results.begin() + static_cast<std::ptrdiff_t>(closes));
  return results;
}

Result<std::string> WinregClient::Exchange(uint16_t op, std::string stub) {
  std::vector<rpc::RpcChannel::Request> one;
  one.push_back({op, std::move(stub)});
  return std::move(Exchange(std::move(one)).front());
}

Result<rpc::ContextHandle> WinregClient::OpenHive(Hive hive, uint32_t access) {
  const uint16_t op = hive == Hive::kUsers ? opnum::kOpenHKU : opnum::kOpenHKLM;
  Result<std::string> reply = Exchange(op, EncodeOpenHive(access));
  if (!reply.ok()) return reply.status();
  return DecodeHandleReply(reply.value());
}

Result<rpc::ContextHandle> WinregClient::OpenKey(const rpc::ContextHandle& parent,
                                                 std::string_view path, uint32_t access) {
  Result<std::string> request = EncodeOpenKey(parent, path, access);
  if (!request.ok()) return request.status();
  Result<std::string> reply = Exchange(opnum::kOpenKey, std::move(request).value());
  if (!reply.ok()) return reply.status();
  return DecodeHandleReply(reply.value());
}

std::vector<Result<rpc::ContextHandle>> WinregClient::OpenKeys(
    const rpc::ContextHandle& parent, const std::vector<std::string>& paths, uint32_t access) {
  std::vector<Result<rpc::ContextHandle>> handles;
  std::vector<rpc::RpcChannel::Request> requests;
  for (const std::string& path : paths) {
    Result<std::string> request = EncodeOpenKey(parent, path, access);
    if (!request.ok()) {
      handles.push_back(request.status());
      continue;
    }
    handles.push_back(rpc::ContextHandle{});
    requests.push_back({opnum::kOpenKey, std::move(request).value()});
  }
  std::vector<Result<std::string>> replies = Exchange(std::move(requests));
  size_t next = 0;
  for (Result<rpc::ContextHandle>& handle : handles) {
    if (!handle.ok()) continue;  // not sent: the path cannot be encoded
    const Result<std::string>& reply = replies[next++];
    handle = reply.ok() ? DecodeHandleReply(reply.value())
                        : Result<rpc::ContextHandle>(reply.status());
  }
  return handles;
}

namespace {

// Replies for one value name tend to be of one length from key to key.
uint64_t SizeKey(std::string_view name) { return std::hash<std::string_view>{}(name) | 1; }

}  // namespace

namespace {

// A value from a QueryValue reply, or the size it needs (0: none).
Result<RegistryValue> ValueFromReply(const Result<std::string>& reply, uint32_t buffer,
                                     uint32_t& size_needed) {
  size_needed = 0;
  if (!reply.ok()) return reply.status();
  Result<QueryValueReply> decoded = DecodeQueryValue(reply.value());
  if (!decoded.ok()) return decoded.status();
  if (decoded->status == win32::kMoreData && decoded->size_needed > buffer &&
      decoded->size_needed <= rpc::kMaxResponseStub / 2) {
    size_needed = decoded->size_needed;
    return Win32Failure(win32::kMoreData, "registry value");
  }
  if (decoded->status != 0) return Win32Failure(decoded->status, "registry value");
  return std::move(decoded->value);
}

}  // namespace

Result<RegistryValue> WinregClient::QueryValue(const rpc::ContextHandle& key,
                                               std::string_view name) {
  uint32_t buffer = kValueBuffer;
  // A value may grow between the two queries; a third try is not made.
  for (int attempt = 0; attempt < 2; ++attempt) {
    Result<std::string> request = EncodeQueryValue(key, name, buffer);
    if (!request.ok()) return request.status();
    uint32_t size_needed = 0;
    Result<RegistryValue> value =
        ValueFromReply(Exchange(opnum::kQueryValue, std::move(request).value()), buffer,
                       size_needed);
    if (size_needed == 0) return value;
    buffer = size_needed;
  }
  return Win32Failure(win32::kMoreData, "registry value keeps growing");
}

Result<std::vector<RegistryValue>> WinregClient::MultipleValuesFromReply(
    const Result<std::string>& reply, size_t count) {
  if (!reply.ok()) {
    // A fault: this server does not offer the call (Samba answers it with
    // nca_s_fault_ndr); do not ask again.
    if (!channel_->broken()) multiple_values_ = false;
    return reply.status();
  }
  Result<MultipleValuesReply> decoded = DecodeQueryMultipleValues(reply.value(), count);
  if (!decoded.ok()) return decoded.status();
  if (decoded->status == win32::kMoreData && decoded->size_needed <= rpc::kMaxResponseStub / 4) {
    multiple_buffer_ = std::max(multiple_buffer_, decoded->size_needed);
  }
  if (decoded->status == win32::kInvalidFunction || decoded->status == win32::kNotSupported) {
    multiple_values_ = false;
  }
  if (decoded->status != 0) return Win32Failure(decoded->status, "registry values");
  return std::move(decoded->values);
}

std::vector<std::vector<Result<RegistryValue>>> WinregClient::QueryValues(
    const std::vector<rpc::ContextHandle>& keys, const std::vector<WantedValue>& wanted) {
  std::vector<size_t> alone;
  std::vector<size_t> together;
  for (size_t i = 0; i < wanted.size(); ++i) {
    (wanted[i].expected && multiple_values_ ? together : alone).push_back(i);
  }
  if (together.size() < 2) {
    alone.insert(alone.end(), together.begin(), together.end());
    together.clear();
  }
  std::vector<std::string> together_names;
  for (size_t i : together) together_names.push_back(wanted[i].name);

  // Per key, the single queries first: their replies are of a length seen
  // before, which the channel reads best.
  std::vector<rpc::RpcChannel::Request> requests;
  std::vector<bool> asked_together(keys.size(), false);
  for (size_t k = 0; k < keys.size(); ++k) {
    for (size_t i : alone) {
      Result<std::string> request = EncodeQueryValue(keys[k], wanted[i].name, kValueBuffer);
      // A name that cannot be encoded is asked alone, to fail alone.
      requests.push_back({opnum::kQueryValue,
                          request.ok() ? std::move(request).value() : std::string(),
                          SizeKey(wanted[i].name)});
    }
    if (together.empty()) continue;
    Result<std::string> request =
        EncodeQueryMultipleValues(keys[k], together_names, multiple_buffer_);
    asked_together[k] = request.ok();
    if (request.ok()) {
      requests.push_back({opnum::kQueryMultipleValues, std::move(request).value(),
                          SizeKey(together_names.front())});
    }
  }
  std::vector<Result<std::string>> replies = Exchange(std::move(requests));

  std::vector<std::vector<Result<RegistryValue>>> values(
      keys.size(), std::vector<Result<RegistryValue>>(wanted.size(), Status::Failure(0, "")));
  // Values that only single queries can tell, asked in one more exchange.
  std::vector<std::pair<size_t, size_t>> singles;
  size_t next = 0;
  for (size_t k = 0; k < keys.size(); ++k) {
    for (size_t i : alone) {
      uint32_t size_needed = 0;
      values[k][i] = ValueFromReply(replies[next++], kValueBuffer, size_needed);
      if (size_needed != 0) values[k][i] = QueryValue(keys[k], wanted[i].name);
    }
    if (together.empty()) continue;
    Result<std::vector<RegistryValue>> found =
        asked_together[k] ? MultipleValuesFromReply(replies[next++], together.size())
                          : Result<std::vector<RegistryValue>>(
                                Status::Failure(win32::kInvalidParameter, "registry name"));
    for (size_t j = 0; j < together.size(); ++j) {
      if (found.ok()) {
        values[k][together[j]] = std::move(found->at(j));
      } else if (channel_->broken()) {
        values[k][together[j]] = found.status();
      } else {
        singles.emplace_back(k, together[j]);
      }
    }
  }
  if (singles.empty()) return values;
  std::vector<rpc::RpcChannel::Request> single_requests;
  for (const auto& [k, i] : singles) {
    Result<std::string> request = EncodeQueryValue(keys[k], wanted[i].name, kValueBuffer);
    single_requests.push_back({opnum::kQueryValue,
                               request.ok() ? std::move(request).value() : std::string(),
                               SizeKey(wanted[i].name)});
  }
  std::vector<Result<std::string>> single_replies = Exchange(std::move(single_requests));
  for (size_t s = 0; s < singles.size(); ++s) {
    const auto& [k, i] = singles[s];
    uint32_t size_needed = 0;
    values[k][i] = ValueFromReply(single_replies[s], kValueBuffer, size_needed);
    if (size_needed != 0) values[k][i] = QueryValue(keys[k], wanted[i].name);
  }
  return values;
}

Result<std::string> WinregClient::EnumKey(const rpc::ContextHandle& key, uint32_t index) {
  Result<std::string> reply = Exchange(opnum::kEnumKey, EncodeEnumKey(key, index));
  if (!reply.ok()) return reply.status();
  return DecodeEnumKey(reply.value());
}

std::vector<Result<std::string>> WinregClient::EnumKeys(const rpc::ContextHandle& key,
                                                        uint32_t first, uint32_t count) {
  std::vector<rpc::RpcChannel::Request> requests;
  for (uint32_t i = 0; i < count; ++i) {
    requests.push_back({opnum::kEnumKey, EncodeEnumKey(key, first + i)});
  }
  std::vector<Result<std::string>> names;
  for (Result<std::string>& reply : Exchange(std::move(requests))) {
    names.push_back(reply.ok() ? DecodeEnumKey(reply.value()) : Result<std::string>(reply.status()));
  }
  return names;
}

Status WinregClient::SaveKey(const rpc::ContextHandle& key, std::string_view path) {
  Result<std::string> request = EncodeSaveKey(key, path);
  if (!request.ok()) return request.status();
  Result<std::string> reply = Exchange(opnum::kSaveKey, std::move(request).value());
  if (!reply.ok()) return reply.status();
  return DecodeStatusReply(reply.value());
}

Status WinregClient::CloseKey(const rpc::ContextHandle& key) {
  Result<std::string> reply = Exchange(opnum::kCloseKey, EncodeCloseKey(key));
  if (!reply.ok()) return reply.status();
  return DecodeHandleReply(reply.value()).status();
}

}  // namespace hostlore::winreg
