#include "platform/network/wsman/http_encryption.h"

#include <charconv>
#include <cstdint>
#include <optional>

#include "util/text.h"

namespace hostlore::wsman {
namespace {

constexpr std::string_view kBoundary = "--Encrypted Boundary\r\n";
constexpr std::string_view kFinalBoundary = "--Encrypted Boundary--\r\n";
constexpr std::string_view kOriginalType = "type=application/soap+xml;charset=UTF-8;Length=";

Status Malformed(const std::string& why) {
  return Status::Failure(kAuthenticationFailed, "The service sent an encrypted message that "
                                                "cannot be read: " + why);
}

// Reads the part header line that starts with `name` after optional blanks
// and moves `rest` past it; the value after the name, or nullopt.
std::optional<std::string_view> HeaderLine(std::string_view& rest, std::string_view name) {
  const size_t end = rest.find("\r\n");
  if (end == std::string_view::npos) return std::nullopt;
  std::string_view line = rest.substr(0, end);
  while (!line.empty() && (line.front() == '\t' || line.front() == ' ')) line.remove_prefix(1);
  if (line.size() < name.size() || !EqualsIgnoreCase(line.substr(0, name.size()), name)) {
    return std::nullopt;
  }
  rest.remove_prefix(end + 2);
  return line.substr(name.size());
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

bool Consume(std::string_view& rest, std::string_view prefix) {
  if (rest.substr(0, prefix.size()) != prefix) return false;
  rest.remove_prefix(prefix.size());
  return true;
}

}  // namespace

bool IsEncryptedContent(std::string_view content_type) {
  constexpr std::string_view kMultipart = "multipart/encrypted";
  return content_type.size() >= kMultipart.size() &&
         EqualsIgnoreCase(content_type.substr(0, kMultipart.size()), kMultipart);
}

Result<std::string> EncryptBody(SpnegoContext& context, std::string_view soap) {
  Result<Sealed> sealed = context.Seal(soap);
  if (!sealed.ok()) return sealed.status();
  const uint32_t header_length = static_cast<uint32_t>(sealed->header.size());
  std::string body;
  body.reserve(soap.size() + sealed->header.size() + 256);
  body += kBoundary;
  body += "\tContent-Type: application/HTTP-SPNEGO-session-encrypted\r\n";
  body += "\tOriginalContent: ";
  body += kOriginalType;
  body += std::to_string(soap.size()) + "\r\n";
  body += kBoundary;
  body += "\tContent-Type: application/octet-stream\r\n";
  for (int shift = 0; shift < 32; shift += 8) {
    body += static_cast<char>((header_length >> shift) & 0xFF);
  }
  body += sealed->header;
  body += sealed->data;
  body += kFinalBoundary;
  return body;
}

Result<std::string> DecryptBody(SpnegoContext& context, std::string_view body) {
  std::string_view rest = body;
  if (!Consume(rest, kBoundary)) return Malformed("no opening boundary");
  std::optional<std::string_view> type = HeaderLine(rest, "Content-Type:");
  if (!type || !EqualsIgnoreCase(TrimBlanks(*type),
                                 "application/HTTP-SPNEGO-session-encrypted")) {
    return Malformed("not application/HTTP-SPNEGO-session-encrypted");
  }
  std::optional<std::string_view> original = HeaderLine(rest, "OriginalContent:");
  if (!original) return Malformed("no OriginalContent");
  const size_t length_at = original->rfind("Length=");
  if (length_at == std::string_view::npos) return Malformed("no original length");
  const std::string_view digits = original->substr(length_at + 7);
  size_t length = 0;
  const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), length);
  if (ec != std::errc() || end != digits.data() + digits.size()) {
    return Malformed("a bad original length");
  }
  if (!Consume(rest, kBoundary) || !HeaderLine(rest, "Content-Type:")) {
    return Malformed("no octet-stream part");
  }
  // The sealed data may hold any bytes, the boundary's among them: the part
  // ends at the last closing boundary.
  const size_t close = rest.rfind("--Encrypted Boundary--");
  if (close == std::string_view::npos || close < 4) return Malformed("no closing boundary");
  std::string_view payload = rest.substr(0, close);
  uint32_t header_length = 0;
  for (int i = 3; i >= 0; --i) {
    header_length = (header_length << 8) | static_cast<uint8_t>(payload[static_cast<size_t>(i)]);
  }
  payload.remove_prefix(4);
  if (header_length > payload.size()) return Malformed("a signature longer than the part");
  Result<std::string> plain =
      context.Unseal(payload.substr(0, header_length), payload.substr(header_length));
  if (!plain.ok()) return plain.status();
  if (plain->size() != length) return Malformed("a length that does not match the text");
  return plain;
}

}  // namespace hostlore::wsman
