// Small text helpers shared across the agent.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace hostlore {

// ASCII letters compare without regard to case; every other byte as itself.
bool EqualsIgnoreCase(std::string_view a, std::string_view b);
// <0, 0, >0 like strcmp, ASCII letters folded to lower case.
int CompareIgnoreCase(std::string_view a, std::string_view b);
std::string ToLowerAscii(std::string_view text);

// `utf8` with the capital letters of the Latin, Greek and Cyrillic alphabets
// turned into small ones, for searching without regard to case. Other
// characters, and bytes that are no UTF-8, stay as they are.
std::string FoldCase(std::string_view utf8);

// Number of Unicode characters in UTF-8 text (bytes that start a character).
size_t CountCharacters(std::string_view utf8);

// The first `count` characters of UTF-8 text (all of it when shorter).
std::string_view FirstCharacters(std::string_view utf8, size_t count);

// The longest prefix of `utf8` of at most `max_bytes` bytes that does not cut
// a character in two.
std::string_view CutToBytes(std::string_view utf8, size_t max_bytes);

// `text` with every carriage return and line feed replaced by a blank, so
// that it stays on one line of a line-oriented channel.
std::string FoldLineBreaks(std::string_view text);

}  // namespace hostlore
