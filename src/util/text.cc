#include "util/text.h"

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
