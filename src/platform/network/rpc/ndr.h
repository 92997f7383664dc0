// NDR (the DCE/RPC transfer syntax) in its little-endian form: a writer that
// builds request stubs and a bounds-checked reader for response stubs.
// Alignment is relative to the start of the stub, as NDR defines it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace hostlore::rpc {

// A context handle (policy handle): 20 opaque bytes that the server hands
// out and takes back.
struct ContextHandle {
  std::array<uint8_t, 20> bytes{};
  bool operator==(const ContextHandle&) const = default;
};

class NdrWriter {
 public:
  void Align(size_t boundary);
  void U8(uint8_t value);
  void U16(uint16_t value);
  void U32(uint32_t value);
  void U64(uint64_t value);
  void Bytes(std::string_view bytes);
  void Handle(const ContextHandle& handle);
  // A non-null pointer's referent id: distinct, non-zero numbers.
  void Referent();
  // A null pointer.
  void Null() { U32(0); }

  const std::string& bytes() const { return out_; }

 private:
  std::string out_;
  uint32_t next_referent_ = 0x00020000;
};

// Reads never run past the stub: a read that would sets the reader failed,
// yields zeros from then on, and leaves ok() false for good. Decoders read
// everything, then check ok() once.
class NdrReader {
 public:
  explicit NdrReader(std::string_view stub) : stub_(stub) {}

  void Align(size_t boundary);
  uint8_t U8();
  uint16_t U16();
  uint32_t U32();
  uint64_t U64();
  // `count` raw bytes; empty text (and failed) when fewer remain.
  std::string Bytes(size_t count);
  ContextHandle Handle();
  // Marks the stub malformed (a decoder's own consistency check failed).
  void Fail() { failed_ = true; }

  bool ok() const { return !failed_; }
  size_t remaining() const { return failed_ ? 0 : stub_.size() - offset_; }

 private:
  bool Take(size_t count, std::string_view& out);

  std::string_view stub_;
  size_t offset_ = 0;
  bool failed_ = false;
};

// UTF-16LE bytes from a conformant varying array of 16-bit characters (its
// maximum count, offset and actual count, then the characters; the next read
// aligns itself). The reader fails when the counts disagree or overrun the stub.
std::string ReadVaryingUtf16(NdrReader& reader);

}  // namespace hostlore::rpc
