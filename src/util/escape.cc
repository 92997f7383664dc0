#include "util/escape.h"

#include <cstdint>

namespace hostlore {
namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Length of the valid UTF-8 sequence at the start of `text`, or 0.
size_t ValidSequence(std::string_view text) {
  const auto byte = [&](size_t i) { return static_cast<uint8_t>(text[i]); };
  const uint8_t lead = byte(0);
  if (lead < 0x80) return 1;
  size_t length = 0;
  uint32_t code = 0;
  if (lead >= 0xC2 && lead <= 0xDF) length = 2, code = lead & 0x1F;
  else if (lead >= 0xE0 && lead <= 0xEF) length = 3, code = lead & 0x0F;
  else if (lead >= 0xF0 && lead <= 0xF4) length = 4, code = lead & 0x07;
  else return 0;
  if (text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i) & 0x3F);
  }
  // Overlong forms, surrogates and values beyond U+10FFFF are not UTF-8.
  if ((length == 3 && code < 0x800) || (length == 4 && code < 0x10000) || code > 0x10FFFF ||
      (code >= 0xD800 && code <= 0xDFFF)) {
    return 0;
  }
  return length;
}

// True for C0 controls, DEL and the C1 controls (U+0080 to U+009F).
bool IsControl(std::string_view character) {
  const auto lead = static_cast<uint8_t>(character[0]);
  if (character.size() == 1) return lead < 0x20 || lead == 0x7F;
  return character.size() == 2 && lead == 0xC2 && static_cast<uint8_t>(character[1]) < 0xA0;
}

void AppendPercentEncoded(std::string_view value, std::string& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  for (const char c : value) {
    const auto byte = static_cast<uint8_t>(c);
    if ((byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') || (byte >= '0' && byte <= '9') ||
        c == '-' || c == '.' || c == '_' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
    }
  }
}

// True for a byte that `context` copies as it stands: printable ASCII less
// the characters it escapes or quotes for.
bool IsPlainAscii(char c, EscapeFor context) {
  const auto byte = static_cast<uint8_t>(c);
  if (byte < 0x20 || byte >= 0x7F) return false;
  switch (context) {
    case EscapeFor::kHtml:
      return c != '&' && c != '<' && c != '>' && c != '"' && c != '\'';
    case EscapeFor::kCsvCell:
      return c != ',' && c != '"';
    default:
      return true;
  }
}

}  // namespace

std::string Escape(std::string_view value, EscapeFor context) {
  std::string out;
  out.reserve(value.size() + 8);
  AppendEscaped(out, value, context);
  return out;
}

void AppendEscaped(std::string& out, std::string_view value, EscapeFor context) {
  if (context == EscapeFor::kUrlComponent) {
    AppendPercentEncoded(value, out);
    return;
  }
  const size_t start = out.size();
  bool quote = false;
  if (context == EscapeFor::kCsvCell && !value.empty() &&
      (value[0] == '=' || value[0] == '+' || value[0] == '-' || value[0] == '@' || value[0] == '\t' ||
       value[0] == '\r')) {
    out += '\'';
  }
  while (!value.empty()) {
    // Runs of plain text, most of any value, are copied whole.
    size_t plain = 0;
    while (plain < value.size() && IsPlainAscii(value[plain], context)) ++plain;
    out.append(value.substr(0, plain));
    value.remove_prefix(plain);
    if (value.empty()) break;
    const size_t length = ValidSequence(value);
    if (length == 0) {
      out += kReplacement;
      value.remove_prefix(1);
      continue;
    }
    const std::string_view character = value.substr(0, length);
    value.remove_prefix(length);
    if (context == EscapeFor::kCsvCell) {
      if (character == "\r" || character == "\n" || character == "," || character == "\"") quote = true;
      if (character == "\"") out += '"';
      if (character != "\r" && character != "\n" && character != "\t" && IsControl(character)) {
        out += kReplacement;
      } else {
        out += character;
      }
      continue;
    }
    if (IsControl(character)) {
      out += kReplacement;
    } else if (context == EscapeFor::kHtml && character.size() == 1) {
      switch (character[0]) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += character;
      }
    } else {
      out += character;
    }
  }
  if (quote) {
    out.insert(start, 1, '"');
    out += '"';
  }
}

}  // namespace hostlore
