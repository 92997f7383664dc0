#include "util/text.h"

#include <cstdint>

namespace hostlore {
namespace {

char Lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool IsContinuation(unsigned char c) { return (c & 0xC0) == 0x80; }

}  // namespace

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareIgnoreCase(a, b) == 0;
}

int CompareIgnoreCase(std::string_view a, std::string_view b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(Lower(a[i]));
    const auto y = static_cast<unsigned char>(Lower(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

std::string ToLowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = Lower(c);
  return out;
}

namespace {

// The small letter of `code`, for the alphabets FoldCase covers.
uint32_t SmallLetter(uint32_t code) {
  if ((code >= 0xC0 && code <= 0xDE && code != 0xD7) ||  // Latin-1: À to Þ but ×
      (code >= 0x391 && code <= 0x3AB && code != 0x3A2) ||  // Greek capitals
      (code >= 0x410 && code <= 0x42F)) {                   // Cyrillic А to Я
    return code + 0x20;
  }
  if (code >= 0x400 && code <= 0x40F) return code + 0x50;  // Cyrillic Ѐ to Џ
  // Latin Extended-A pairs capital/small, except the few that are odd/even
  // the other way round (Ĺ to Ň, Ź to Ž) and the few without a pair.
  if (code >= 0x100 && code <= 0x17F && code != 0x130 && code != 0x131 && code != 0x138 &&
      code != 0x149 && code != 0x178 && code != 0x17F) {
    const bool odd_capitals = (code >= 0x139 && code <= 0x148) || (code >= 0x179 && code <= 0x17E);
    return (code % 2 == (odd_capitals ? 1u : 0u)) ? code + 1 : code;
  }
  return code;
}

void AppendUtf8(uint32_t code, std::string& out) {
  if (code < 0x800) {
    out += static_cast<char>(0xC0 | (code >> 6));
  } else {
    out += static_cast<char>(0xE0 | (code >> 12));
    out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
  }
  out += static_cast<char>(0x80 | (code & 0x3F));
}

}  // namespace

std::string FoldCase(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  for (size_t i = 0; i < utf8.size(); ++i) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    // Every letter folded here is two bytes long in UTF-8.
    if (lead >= 0xC3 && lead <= 0xD0 && i + 1 < utf8.size() &&
        IsContinuation(static_cast<unsigned char>(utf8[i + 1]))) {
      const uint32_t code = ((lead & 0x1Fu) << 6) | (static_cast<unsigned char>(utf8[i + 1]) & 0x3Fu);
      AppendUtf8(SmallLetter(code), out);
      ++i;
      continue;
    }
    out += Lower(utf8[i]);
  }
  return out;
}

size_t CountCharacters(std::string_view utf8) {
  size_t count = 0;
  for (const char c : utf8) {
    if (!IsContinuation(static_cast<unsigned char>(c))) ++count;
  }
  return count;
}

std::string_view FirstCharacters(std::string_view utf8, size_t count) {
  size_t seen = 0;
  for (size_t i = 0; i < utf8.size(); ++i) {
    if (!IsContinuation(static_cast<unsigned char>(utf8[i])) && seen++ == count) {
      return utf8.substr(0, i);
    }
  }
  return utf8;
}

std::string_view CutToBytes(std::string_view utf8, size_t max_bytes) {
  if (utf8.size() <= max_bytes) return utf8;
  size_t end = max_bytes;
  while (end > 0 && IsContinuation(static_cast<unsigned char>(utf8[end]))) --end;
  return utf8.substr(0, end);
}

std::string FoldLineBreaks(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  return out;
}

}  // namespace hostlore
