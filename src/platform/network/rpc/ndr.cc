#include "platform/network/rpc/ndr.h"

namespace hostlore::rpc {

void NdrWriter::Align(size_t boundary) {
  while (out_.size() % boundary != 0) out_.push_back('\0');
}

void NdrWriter::U8(uint8_t value) { out_.push_back(static_cast<char>(value)); }

void NdrWriter::U16(uint16_t value) {
  Align(2);
  U8(static_cast<uint8_t>(value));
  U8(static_cast<uint8_t>(value >> 8));
}

void NdrWriter::U32(uint32_t value) {
  Align(4);
  for (int shift = 0; shift < 32; shift += 8) U8(static_cast<uint8_t>(value >> shift));
}

void NdrWriter::U64(uint64_t value) {
  Align(8);
  for (int shift = 0; shift < 64; shift += 8) U8(static_cast<uint8_t>(value >> shift));
}

void NdrWriter::Bytes(std::string_view bytes) { out_.append(bytes); }

void NdrWriter::Handle(const ContextHandle& handle) {
  Align(4);
  out_.append(reinterpret_cast<const char*>(handle.bytes.data()), handle.bytes.size());
}

void NdrWriter::Referent() {
  U32(next_referent_);
  next_referent_ += 4;
}

bool NdrReader::Take(size_t count, std::string_view& out) {
  if (failed_ || count > stub_.size() - offset_) {
    failed_ = true;
    return false;
  }
  out = stub_.substr(offset_, count);
  offset_ += count;
  return true;
}

void NdrReader::Align(size_t boundary) {
  const size_t padding = (boundary - offset_ % boundary) % boundary;
  std::string_view skipped;
  Take(padding, skipped);
}

uint8_t NdrReader::U8() {
  std::string_view b;
  return Take(1, b) ? static_cast<uint8_t>(b[0]) : 0;
}

uint16_t NdrReader::U16() {
  Align(2);
  std::string_view b;
  if (!Take(2, b)) return 0;
  return static_cast<uint16_t>(static_cast<uint8_t>(b[0]) | static_cast<uint8_t>(b[1]) << 8);
}

uint32_t NdrReader::U32() {
  Align(4);
  std::string_view b;
  if (!Take(4, b)) return 0;
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(b[i]);
  return value;
}

uint64_t NdrReader::U64() {
  Align(8);
  std::string_view b;
  if (!Take(8, b)) return 0;
  uint64_t value = 0;
  for (int i = 7; i >= 0; --i) value = value << 8 | static_cast<uint8_t>(b[i]);
  return value;
}

std::string NdrReader::Bytes(size_t count) {
  std::string_view b;
  return Take(count, b) ? std::string(b) : std::string();
}

ContextHandle NdrReader::Handle() {
  Align(4);
  ContextHandle handle;
  std::string_view b;
  if (Take(handle.bytes.size(), b)) {
    for (size_t i = 0; i < b.size(); ++i) handle.bytes[i] = static_cast<uint8_t>(b[i]);
  }
  return handle;
}

std::string ReadVaryingUtf16(NdrReader& reader) {
  const uint32_t maximum = reader.U32();
  const uint32_t offset = reader.U32();
  const uint32_t actual = reader.U32();
  if (offset != 0 || actual > maximum || actual > reader.remaining() / 2) {
    reader.Fail();
    return {};
  }
  return reader.Bytes(size_t{actual} * 2);
}

}  // namespace hostlore::rpc
