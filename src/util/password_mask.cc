#include "util/password_mask.h"

#include <vector>

#include "util/text.h"

namespace hostlore {
namespace {

struct Span {
  size_t start;
  size_t end;
};

bool IsNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
}

// The end of the attribute value that starts at `at`.
size_t ValueEnd(std::string_view text, size_t at) {
  if (at < text.size() && text[at] == '{') {
    // Braced: "}}" stands for "}", the first lone "}" ends it.
    for (size_t i = at + 1; i < text.size(); ++i) {
      if (text[i] != '}') continue;
      if (i + 1 < text.size() && text[i + 1] == '}') {
        ++i;
        continue;
      }
      return i + 1;
    }
    return text.size();
  }
  const size_t end = text.find_first_of(";,", at);
  return end == std::string_view::npos ? text.size() : end;
}

void FindAttributeValues(std::string_view text, std::vector<Span>& spans) {
  const std::string lower = ToLowerAscii(text);
  for (const std::string_view key : {std::string_view("pwd"), std::string_view("password")}) {
    for (size_t at = lower.find(key); at != std::string::npos; at = lower.find(key, at + 1)) {
      if (at > 0 && IsNameCharacter(text[at - 1])) continue;
      size_t i = at + key.size();
      while (i < text.size() && text[i] == ' ') ++i;
      if (i >= text.size() || text[i] != '=') continue;
      ++i;
      while (i < text.size() && text[i] == ' ') ++i;
      if (const size_t end = ValueEnd(text, i); end > i) spans.push_back({i, end});
    }
  }
}

void FindUrlPasswords(std::string_view text, std::vector<Span>& spans) {
  for (size_t scheme = text.find("://"); scheme != std::string_view::npos;
       scheme = text.find("://", scheme + 3)) {
    const size_t start = scheme + 3;
    size_t end = text.find_first_of("/,", start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view authority = text.substr(start, end - start);
    const size_t at = authority.rfind('@');
    if (at == std::string_view::npos) continue;
    const size_t colon = authority.substr(0, at).find(':');
    if (colon != std::string_view::npos && colon + 1 < at) spans.push_back({start + colon + 1, start + at});
  }
}

std::vector<Span> PasswordSpans(std::string_view text) {
  std::vector<Span> spans;
  FindAttributeValues(text, spans);
  FindUrlPasswords(text, spans);
  return spans;
}

}  // namespace

std::string MaskPasswords(std::string_view text) {
  const std::vector<Span> spans = PasswordSpans(text);
  if (spans.empty()) return std::string(text);
  // Character by character, so that overlapping spans mask once.
  std::vector<bool> hidden(text.size(), false);
  for (const Span& span : spans) {
    for (size_t i = span.start; i < span.end; ++i) hidden[i] = true;
  }
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!hidden[i]) {
      out += text[i];
    } else if (i == 0 || !hidden[i - 1]) {
      out += "***";
    }
  }
  return out;
}

bool HoldsPassword(std::string_view text) { return !PasswordSpans(text).empty(); }

}  // namespace hostlore
