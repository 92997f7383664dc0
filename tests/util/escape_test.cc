// The one escaping function: hostile text for a page, a link, a CSV cell and
// a terminal; and case folding for searches.
#include <gtest/gtest.h>

#include "util/escape.h"
#include "util/text.h"

namespace hostlore {
namespace {

TEST(EscapeTest, MarkupQuotesAndControlsNeverReachAPage) {
  EXPECT_EQ(Escape("<script>alert('x')</script> & \"q\"", EscapeFor::kHtml),
            "&lt;script&gt;alert(&#39;x&#39;)&lt;/script&gt; &amp; &quot;q&quot;");
  // Bytes that are no UTF-8 (a lone lead, an overlong slash, a surrogate) and
  // control characters (CR, LF, ESC, C1) become U+FFFD; valid text stays.
  EXPECT_EQ(Escape("a\xC3(\xC0\xAF\xED\xA0\x80z", EscapeFor::kHtml), "a\xEF\xBF\xBD(\xEF\xBF\xBD\xEF\xBF\xBD"
                                                                     "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDz");
  EXPECT_EQ(Escape("x\r\ny\x1B[2J\xC2\x9B", EscapeFor::kTerminal),
            "x\xEF\xBF\xBD\xEF\xBF\xBDy\xEF\xBF\xBD[2J\xEF\xBF\xBD");
  EXPECT_EQ(Escape("\xC3\x9C" "ber \xE2\x82\xAC", EscapeFor::kTerminal), "\xC3\x9C" "ber \xE2\x82\xAC");
}

TEST(EscapeTest, LinksCarryTheExactBytes) {
  EXPECT_EQ(Escape("javascript:alert(1)", EscapeFor::kUrlComponent), "javascript%3Aalert%281%29");
  EXPECT_EQ(Escape("a b&c=d\xFF/", EscapeFor::kUrlComponent), "a%20b%26c%3Dd%FF%2F");
}

TEST(EscapeTest, CsvCellsAreQuotedAndFormulasDisarmed) {
  EXPECT_EQ(Escape("plain", EscapeFor::kCsvCell), "plain");
  EXPECT_EQ(Escape("a,b \"c\"", EscapeFor::kCsvCell), "\"a,b \"\"c\"\"\"");
  EXPECT_EQ(Escape("two\r\nlines", EscapeFor::kCsvCell), "\"two\r\nlines\"");
  for (const char* formula : {"=cmd|' /C calc'!A0", "+1", "-1+2", "@SUM(A1)", "\tx", "\rx"}) {
    const std::string cell = Escape(formula, EscapeFor::kCsvCell);
    EXPECT_TRUE(cell.starts_with("'") || cell.starts_with("\"'")) << cell;
  }
}

TEST(EscapeTest, CaseFoldingCoversLatinGreekAndCyrillic) {
  EXPECT_EQ(FoldCase("Microsoft \xC3\x9C" "BER \xC4\xB9 \xCE\xA9 \xD0\x96 \xD0\x81"),
            "microsoft \xC3\xBC" "ber \xC4\xBA \xCF\x89 \xD0\xB6 \xD1\x91");
  EXPECT_EQ(FoldCase("\xC3\x97 \xC5\xB8 \xFF"), "\xC3\x97 \xC5\xB8 \xFF");  // ×, Ÿ and a stray byte stay
}

}  // namespace
}  // namespace hostlore
