#include "platform/network/smb/registry_key_read.h"

#include <cctype>
#include <cstring>

namespace hostlore {
namespace {

// Fixed-width numbers in the machine's own order: both ends are this
// program, on this machine.
class FrameWriter {
 public:
  template <typename T>
  void Number(T value) {
    bytes_.append(reinterpret_cast<const char*>(&value), sizeof value);
  }
  void Text(std::string_view text) {
    Number(static_cast<uint32_t>(text.size()));
    bytes_.append(text);
  }
  void Failure(const Status& status) {
    Number(status.number());
    Text(status.description());
  }
  std::string bytes() && { return std::move(bytes_); }

 private:
  std::string bytes_;
};

class FrameReader {
 public:
  explicit FrameReader(std::string_view bytes) : rest_(bytes) {}
  template <typename T>
  T Number() {
    T value{};
    if (rest_.size() < sizeof value) {
      ok_ = false;
      return value;
    }
    std::memcpy(&value, rest_.data(), sizeof value);
    rest_.remove_prefix(sizeof value);
    return value;
  }
  std::string Text() {
    const auto size = Number<uint32_t>();
    if (!ok_ || rest_.size() < size) {
      ok_ = false;
      return {};
    }
    std::string text(rest_.substr(0, size));
    rest_.remove_prefix(size);
    return text;
  }
  Status Failure() {
    const auto number = Number<int64_t>();
    return Status::Failure(number, Text());
  }
  // A count of items that each take at least `least` bytes.
  uint32_t Count(size_t least) {
    const auto count = Number<uint32_t>();
    if (count > rest_.size() / least) ok_ = false;
    return ok_ ? count : 0;
  }
  bool whole() const { return ok_ && rest_.empty(); }

 private:
  std::string_view rest_;
  bool ok_ = true;
};

}  // namespace

std::string LowerRegistryName(std::string_view name) {
  std::string lower(name);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return lower;
}

KeyId ListingId(const KeyId& key, uint32_t first) {
  auto [hive, path, access] = key;
  path += '\0';
  path += std::to_string(first);
  return {hive, std::move(path), access};
}

std::string EncodeKeyJob(const KeyJob& job) {
  FrameWriter w;
  w.Number(static_cast<uint32_t>(job.hive));
  w.Number(job.access);
  w.Number(static_cast<uint32_t>(job.paths.size()));
  for (const std::string& path : job.paths) w.Text(path);
  w.Number(static_cast<uint32_t>(job.names.size()));
  for (const auto& name : job.names) {
    w.Text(name.name);
    w.Number(static_cast<uint8_t>(name.expected));
  }
  w.Number(job.first);
  w.Number(job.count);
  return std::move(w).bytes();
}

std::optional<KeyJob> DecodeKeyJob(std::string_view bytes) {
  FrameReader r(bytes);
  KeyJob job;
  job.hive = static_cast<Hive>(r.Number<uint32_t>());
  job.access = r.Number<uint32_t>();
  for (uint32_t n = r.Count(4); n > 0; --n) job.paths.push_back(r.Text());
  for (uint32_t n = r.Count(5); n > 0; --n) {
    std::string name = r.Text();
    job.names.push_back({std::move(name), r.Number<uint8_t>() != 0});
  }
  job.first = r.Number<uint32_t>();
  job.count = r.Number<uint32_t>();
  if (!r.whole()) return std::nullopt;
  return job;
}

std::string EncodeKeyReads(const std::vector<KeyRead>& reads) {
  FrameWriter w;
  w.Number(static_cast<uint32_t>(reads.size()));
  for (const KeyRead& read : reads) {
    w.Number(static_cast<uint8_t>(read.fetched));
    w.Number(static_cast<uint8_t>(read.complete));
    w.Number(static_cast<uint8_t>(read.opened.ok()));
    if (!read.opened.ok()) w.Failure(read.opened);
    w.Number(static_cast<uint32_t>(read.values.size()));
    for (const auto& [name, value] : read.values) {
      w.Text(name);
      w.Number(static_cast<uint8_t>(value.ok()));
      if (value.ok()) {
        w.Number(value.value().type);
        w.Text(value.value().data);
      } else {
        w.Failure(value.status());
      }
    }
    w.Number(static_cast<uint32_t>(read.subkeys.size()));
    for (const Result<std::string>& name : read.subkeys) {
      w.Number(static_cast<uint8_t>(name.ok()));
      if (name.ok()) {
        w.Text(name.value());
      } else {
        w.Failure(name.status());
      }
    }
  }
  return std::move(w).bytes();
}

std::optional<std::vector<KeyRead>> DecodeKeyReads(std::string_view bytes) {
  FrameReader r(bytes);
  std::vector<KeyRead> reads;
  for (uint32_t n = r.Count(11); n > 0; --n) {
    KeyRead& read = reads.emplace_back();
    read.fetched = r.Number<uint8_t>() != 0;
    read.complete = r.Number<uint8_t>() != 0;
    if (r.Number<uint8_t>() == 0) read.opened = r.Failure();
    for (uint32_t v = r.Count(5); v > 0; --v) {
      std::string name = r.Text();
      if (r.Number<uint8_t>() != 0) {
        RegistryValue value;
        value.type = r.Number<uint32_t>();
        value.data = r.Text();
        read.values.insert_or_assign(std::move(name), std::move(value));
      } else {
        read.values.insert_or_assign(std::move(name), r.Failure());
      }
    }
    for (uint32_t k = r.Count(5); k > 0; --k) {
      if (r.Number<uint8_t>() != 0) {
        read.subkeys.emplace_back(r.Text());
      } else {
        read.subkeys.emplace_back(r.Failure());
      }
    }
  }
  if (!r.whole()) return std::nullopt;
  return reads;
}

std::string EncodeStatus(const Status& status) {
  FrameWriter w;
  w.Failure(status);
  return std::move(w).bytes();
}

std::optional<Status> DecodeStatus(std::string_view bytes) {
  FrameReader r(bytes);
  Status status = r.Failure();
  if (!r.whole()) return std::nullopt;
  return status;
}

}  // namespace hostlore
