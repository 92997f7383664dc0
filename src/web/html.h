// Building the pages: every value goes into markup through Escape, every
// link is made by Href from our own path and escaped parameter values.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace hostlore {

using LinkParams = std::vector<std::pair<std::string, std::string>>;

// A value as element text or a quoted attribute value.
std::string Html(std::string_view value);

// `path` (ours, never a target's text) with the parameters that have a
// value, each percent-encoded.
std::string Url(std::string_view path, const LinkParams& params);
// The same, escaped for an href attribute.
std::string Href(std::string_view path, const LinkParams& params);

// <a href="...">text</a>
std::string Link(std::string_view path, const LinkParams& params, std::string_view text);

// What every page shares: the head, the navigation, the footer.
struct PageFrame {
  std::string title;    // for <title> and <h1>; a value, escaped here
  std::string section;  // "fleet", "computers", "software", "changes": the current tab
  std::string body;     // markup
  std::string footer;   // markup
};
std::string RenderPage(const PageFrame& frame);

// A table in a box that scrolls sideways on narrow screens; the header
// cells are markup. A `filterable` table gets a box that filters its rows
// when scripts run.
std::string TableStart(std::string_view css_class, const std::vector<std::string>& header_cells,
                       bool filterable = false);
std::string TableEnd();

// "CSV · JSON" links for the view `path` with `params`.
std::string ExportLinks(std::string_view path, LinkParams params);

}  // namespace hostlore
