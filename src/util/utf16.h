// Conversions between the UTF-16LE of Windows and our UTF-8 text.
#pragma once

#include <string>
#include <string_view>

namespace hostlore {

// UTF-16 code units (host order) to UTF-8. A lone surrogate becomes U+FFFD;
// NUL code units are kept as NUL bytes.
std::string Utf16ToUtf8(std::u16string_view units);

// UTF-16LE bytes to code units; an odd trailing byte is dropped.
std::u16string Utf16LeBytesToUnits(std::string_view bytes);

// UTF-8 to UTF-16LE bytes. Invalid UTF-8 sequences become U+FFFD.
std::string Utf8ToUtf16LeBytes(std::string_view utf8);

}  // namespace hostlore
