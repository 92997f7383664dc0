// The one way a stored value reaches a person's screen or another program:
// every page of the web view and every answer of hostlore-db passes each
// value through Escape for the place it goes. Values come from the targets
// and are hostile until escaped: markup, quotes, line breaks, terminal
// control sequences, formulas, bytes that are no UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace hostlore {

enum class EscapeFor {
  kHtml,          // element text and quoted attribute values: & < > " ' as entities
  kUrlComponent,  // one query value or path piece: every byte but A-Z a-z 0-9 - . _ ~ as %XX
  kCsvCell,       // one RFC 4180 cell; a text that a spreadsheet would take for a
                  // formula (leading = + - @, tab or CR) gets a leading '
  kTerminal,      // text for a terminal line: control characters shown as U+FFFD
};

// Every context but kUrlComponent first replaces each byte that is not part
// of valid UTF-8 with U+FFFD, and every control character (C0, DEL, C1; for
// kHtml and kTerminal also line breaks and tabs, which kCsvCell quotes) with
// U+FFFD as well. kUrlComponent keeps the bytes as they are, so that a link
// names exactly the stored value.
std::string Escape(std::string_view value, EscapeFor context);
// The same, appended to `out`: for long outputs built cell by cell.
void AppendEscaped(std::string& out, std::string_view value, EscapeFor context);

}  // namespace hostlore
