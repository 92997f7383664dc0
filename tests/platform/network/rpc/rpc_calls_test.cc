// The winreg and svcctl stubs: what we send, and decoding what servers
// answer, including replies captured from Samba and damaged ones.
#include <gtest/gtest.h>

#include "platform/network/rpc/svcctl_client.h"
#include "platform/network/rpc/winreg_client.h"
#include "platform/network/rpc/winreg_multiple_values.h"
#include "util/utf16.h"

namespace hostlore {
namespace {

std::string Hex(std::string_view text) {
  std::string bytes;
  for (size_t i = 0; i + 1 < text.size(); i += 3) {
    bytes += static_cast<char>(std::stoi(std::string(text.substr(i, 2)), nullptr, 16));
  }
  return bytes;
}

rpc::ContextHandle SomeHandle() {
  rpc::ContextHandle handle;
  for (size_t i = 0; i < handle.bytes.size(); ++i) handle.bytes[i] = static_cast<uint8_t>(i + 1);
  return handle;
}

// Samba 4.17's answer to EnumKey index 0 of a key whose first subkey is App1.
const std::string kSambaEnumKeyReply = Hex(
    "0a 00 00 02 0c 00 02 00 00 01 00 00 00 00 00 00 05 00 00 00 41 00 70 00 70 00 31 00 00 00 "
    "00 00 10 00 02 00 00 00 00 00 14 00 02 00 00 00 00 00 00 00 00 00 00 00 00 00 18 00 02 00 "
    "00 00 00 00 00 00 00 00 00 00 00 00 ");

TEST(WinregStubs, DecodesSubkeyNamesAndTheEnd) {
  Result<std::string> name = winreg::DecodeEnumKey(kSambaEnumKeyReply);
  ASSERT_TRUE(name.ok()) << name.status().description();
  EXPECT_EQ(name.value(), "App1");

  std::string past_end = kSambaEnumKeyReply;
  past_end[past_end.size() - 4] = 0x03;  // status 259
  past_end[past_end.size() - 3] = 0x01;
  EXPECT_EQ(winreg::DecodeEnumKey(past_end).status().number(), 259);

  for (size_t cut = 0; cut < kSambaEnumKeyReply.size(); ++cut) {
    EXPECT_FALSE(winreg::DecodeEnumKey(kSambaEnumKeyReply.substr(0, cut)).ok()) << cut;
  }
  std::string overlong = kSambaEnumKeyReply;
  overlong[16] = 0x7F;  // actual count beyond the maximum and the stub
  EXPECT_FALSE(winreg::DecodeEnumKey(overlong).ok());
}

TEST(WinregStubs, QueryMultipleValuesIsMarshalledAsSambaMarshalsIt) {
  // Samba's own marshalling (its Python bindings) of the call for the one
  // name "Ab" of a zero handle with an 8-byte buffer.
  const std::string samba = Hex(
      "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 00 00 00 00 00 00 00 "
      "01 00 00 00 00 00 02 00 00 00 00 00 00 00 00 00 00 00 00 00 06 00 06 00 04 00 02 00 "
      "03 00 00 00 00 00 00 00 03 00 00 00 41 00 62 00 00 00 00 00 01 00 00 00 08 00 02 00 "
      "08 00 00 00 00 00 00 00 08 00 00 00 00 00 00 00 00 00 00 00 08 00 00 00 ");
  Result<std::string> ours = winreg::EncodeQueryMultipleValues(rpc::ContextHandle{}, {"Ab"}, 8);
  ASSERT_TRUE(ours.ok());
  EXPECT_EQ(ours.value(), samba);
  // A name too long for the string's 16-bit lengths is refused, not cut.
  EXPECT_FALSE(
      winreg::EncodeQueryMultipleValues(rpc::ContextHandle{}, {"a", std::string(40000, 'x')}, 8)
          .ok());
  EXPECT_FALSE(winreg::EncodeOpenKey(rpc::ContextHandle{}, std::string(40000, 'x'), 8).ok());
}

// A QueryMultipleValues reply for "A" (REG_SZ "hi") and "B" (REG_DWORD 7),
// the server naming each value as Samba and Windows do.
std::string MultipleValuesReply(uint32_t status, uint32_t b_offset = 6) {
  rpc::NdrWriter w;
  w.U32(2);
  w.U32(0);
  w.U32(2);
  w.Referent();
  w.U32(6);  // "hi" and its NUL
  w.U32(0);
  w.U32(reg::kSz);
  w.Referent();
  w.U32(4);
  w.U32(b_offset);
  w.U32(reg::kDword);
  for (const char* name : {"A", "B"}) {
    const std::string units = Utf8ToUtf16LeBytes(name) + std::string(2, '\0');
    w.U16(4);
    w.U16(4);
    w.Referent();
    w.U32(2);
    w.U32(0);
    w.U32(2);
    w.Bytes(units);
  }
  const std::string data =
      Utf8ToUtf16LeBytes("hi") + std::string(2, '\0') + std::string("\x07\0\0\0", 4);
  w.Referent();
  w.U32(16);
  w.U32(0);
  w.U32(static_cast<uint32_t>(data.size()));
  w.Bytes(data);
  w.U32(status == 234 ? 4096 : static_cast<uint32_t>(data.size()));
  w.U32(status);
  return w.bytes();
}

TEST(WinregStubs, DecodesSeveralValuesAndRefusesEntriesOutsideTheData) {
  Result<winreg::MultipleValuesReply> both =
      winreg::DecodeQueryMultipleValues(MultipleValuesReply(0), 2);
  ASSERT_TRUE(both.ok()) << both.status().description();
  ASSERT_EQ(both->values.size(), 2u);
  EXPECT_EQ(both->values[0].type, reg::kSz);
  EXPECT_EQ(both->values[0].data, Utf8ToUtf16LeBytes("hi") + std::string(2, '\0'));
  EXPECT_EQ(both->values[1].type, reg::kDword);
  EXPECT_EQ(both->values[1].data, std::string("\x07\0\0\0", 4));

  Result<winreg::MultipleValuesReply> small =
      winreg::DecodeQueryMultipleValues(MultipleValuesReply(234), 2);
  ASSERT_TRUE(small.ok());
  EXPECT_EQ(small->status, 234u);
  EXPECT_EQ(small->size_needed, 4096u);
  EXPECT_EQ(winreg::DecodeQueryMultipleValues(MultipleValuesReply(2), 2)->status, 2u);

  EXPECT_FALSE(winreg::DecodeQueryMultipleValues(MultipleValuesReply(0, 8), 2).ok());
  EXPECT_FALSE(winreg::DecodeQueryMultipleValues(MultipleValuesReply(0, 0xFFFFFFFE), 2).ok());
  EXPECT_FALSE(winreg::DecodeQueryMultipleValues(MultipleValuesReply(0), 3).ok());
  const std::string reply = MultipleValuesReply(0);
  for (size_t cut = 0; cut < reply.size(); ++cut) {
    EXPECT_FALSE(winreg::DecodeQueryMultipleValues(reply.substr(0, cut), 2).ok()) << cut;
  }
}

std::string QueryValueReply(uint32_t type, std::string_view data, uint32_t size, uint32_t status) {
  rpc::NdrWriter w;
  w.Referent();
  w.U32(type);
  w.Referent();
  w.U32(size);
  w.U32(0);
  w.U32(static_cast<uint32_t>(data.size()));
  w.Bytes(data);
  w.Referent();
  w.U32(size);
  w.Referent();
  w.U32(static_cast<uint32_t>(data.size()));
  w.U32(status);
  return w.bytes();
}

TEST(WinregStubs, DecodesValuesRawAndTheirSizes) {
  const std::string text = Utf8ToUtf16LeBytes("C:\\") + std::string(2, '\0');
  Result<winreg::QueryValueReply> found =
      winreg::DecodeQueryValue(QueryValueReply(reg::kExpandSz, text, 8, 0));
  ASSERT_TRUE(found.ok());
  EXPECT_EQ(found->value.type, reg::kExpandSz);
  EXPECT_EQ(found->value.data, text);  // terminators kept, as the registry holds them

  Result<winreg::QueryValueReply> bigger =
      winreg::DecodeQueryValue(QueryValueReply(reg::kBinary, "", 70000, 234));
  ASSERT_TRUE(bigger.ok());
  EXPECT_EQ(bigger->status, 234u);
  EXPECT_EQ(bigger->size_needed, 70000u);

  const std::string reply = QueryValueReply(reg::kDword, std::string("\x2a\0\0\0", 4), 4, 0);
  for (size_t cut = 0; cut < reply.size(); ++cut) {
    EXPECT_FALSE(winreg::DecodeQueryValue(reply.substr(0, cut)).ok()) << cut;
  }
  std::string lying = reply;
  lying[20] = 9;  // actual count above the maximum count
  EXPECT_FALSE(winreg::DecodeQueryValue(lying).ok());
}

TEST(WinregStubs, HandleRepliesCarryTheWin32Status) {
  rpc::NdrWriter w;
  w.Handle(SomeHandle());
  w.U32(0);
  EXPECT_EQ(winreg::DecodeHandleReply(w.bytes()).value(), SomeHandle());
  rpc::NdrWriter denied;
  denied.Handle(rpc::ContextHandle{});
  denied.U32(5);
  EXPECT_EQ(winreg::DecodeHandleReply(denied.bytes()).status().number(), 5);
  EXPECT_FALSE(winreg::DecodeHandleReply(w.bytes().substr(0, 23)).ok());
}

// An EnumServicesStatusW buffer: records, then the strings they point at.
std::string ServiceBuffer(const std::vector<std::string>& display_names) {
  std::string records;
  std::string strings;
  const uint32_t strings_start = static_cast<uint32_t>(36 * display_names.size());
  for (const std::string& name : display_names) {
    rpc::NdrWriter record;
    record.U32(strings_start + static_cast<uint32_t>(strings.size()));  // service name
    strings += Utf8ToUtf16LeBytes("svc") + std::string(2, '\0');
    record.U32(strings_start + static_cast<uint32_t>(strings.size()));  // display name
    strings += Utf8ToUtf16LeBytes(name) + std::string(2, '\0');
    for (int i = 0; i < 7; ++i) record.U32(1);
    records += record.bytes();
  }
  return records + strings;
}

std::string EnumReply(const std::string& buffer, uint32_t needed, uint32_t returned,
                      uint32_t status) {
  rpc::NdrWriter w;
  w.U32(static_cast<uint32_t>(buffer.size()));
  w.Bytes(buffer);
  w.U32(needed);
  w.U32(returned);
  w.Referent();
  w.U32(0);
  w.U32(status);
  return w.bytes();
}

TEST(SvcctlStubs, DecodesDisplayNamesInOrder) {
  const std::string buffer = ServiceBuffer({"Alerter", "", "Print Spooler \xC3\xA9"});
  Result<svcctl::EnumServicesReply> reply =
      svcctl::DecodeEnumServices(EnumReply(buffer, 0, 3, 0));
  ASSERT_TRUE(reply.ok()) << reply.status().description();
  EXPECT_EQ(reply->display_names,
            (std::vector<std::string>{"Alerter", "", "Print Spooler \xC3\xA9"}));

  Result<svcctl::EnumServicesReply> sizing =
      svcctl::DecodeEnumServices(EnumReply("", 516, 0, 234));
  ASSERT_TRUE(sizing.ok());
  EXPECT_EQ(sizing->status, 234u);
  EXPECT_EQ(sizing->bytes_needed, 516u);
  EXPECT_TRUE(sizing->display_names.empty());
}

TEST(SvcctlStubs, RefusesRecordsThatPointOutsideTheBuffer) {
  std::string buffer = ServiceBuffer({"Alerter"});
  EXPECT_FALSE(svcctl::DecodeEnumServices(EnumReply(buffer, 0, 2, 0)).ok());
  std::string unterminated = buffer.substr(0, buffer.size() - 2);
  EXPECT_FALSE(svcctl::DecodeEnumServices(EnumReply(unterminated, 0, 1, 0)).ok());
  std::string far = buffer;
  far[4] = static_cast<char>(0xF0);  // display-name offset past the end
  far[5] = 0x7F;
  EXPECT_FALSE(svcctl::DecodeEnumServices(EnumReply(far, 0, 1, 0)).ok());
  const std::string reply = EnumReply(buffer, 0, 1, 0);
  for (size_t cut = 0; cut < reply.size(); ++cut) {
    EXPECT_FALSE(svcctl::DecodeEnumServices(reply.substr(0, cut)).ok()) << cut;
  }
}

}  // namespace
}  // namespace hostlore
