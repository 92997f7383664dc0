#include "web/html.h"

#include "util/escape.h"

namespace hostlore {
namespace {

constexpr std::pair<std::string_view, std::string_view> kSections[] = {
    {"fleet", "/"}, {"computers", "/computers"}, {"software", "/software"}, {"changes", "/changes"}};

}  // namespace

std::string Html(std::string_view value) { return Escape(value, EscapeFor::kHtml); }

std::string Url(std::string_view path, const LinkParams& params) {
  std::string url(path);
  char separator = '?';
  for (const auto& [name, value] : params) {
    if (value.empty()) continue;
    url += separator;
    url += Escape(name, EscapeFor::kUrlComponent);
    url += '=';
    url += Escape(value, EscapeFor::kUrlComponent);
    separator = '&';
  }
  return url;
}

std::string Href(std::string_view path, const LinkParams& params) { return Html(Url(path, params)); }

std::string Link(std::string_view path, const LinkParams& params, std::string_view text) {
  return "<a href=\"" + Href(path, params) + "\">" + Html(text) + "</a>";
}

std::string RenderPage(const PageFrame& frame) {
  std::string page =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
      "<title>" + Html(frame.title) + " · Hostlore</title>"
      "<link rel=\"stylesheet\" href=\"/static/hostlore.css\">"
      "<script src=\"/static/hostlore.js\" defer></script></head>\n<body><header><nav>"
      "<span class=\"brand\">Hostlore</span>";
  for (const auto& [section, path] : kSections) {
    page += "<a href=\"" + std::string(path) + "\"";
    if (section == frame.section) page += " aria-current=\"page\"";
    std::string label(section);
    label[0] = static_cast<char>(label[0] - 'a' + 'A');
    page += ">" + label + "</a>";
  }
  page += "</nav></header>\n<main><h1>" + Html(frame.title) + "</h1>\n" + frame.body + "</main>\n<footer>" +
          frame.footer + "</footer></body></html>\n";
  return page;
}

std::string TableStart(std::string_view css_class, const std::vector<std::string>& header_cells,
                       bool filterable) {
  std::string html = "<div class=\"scroll\"><table class=\"" + std::string(css_class) + "\"" +
                     (filterable ? " data-filter" : "") + "><thead><tr>";
  for (const std::string& cell : header_cells) html += "<th>" + cell + "</th>";
  return html + "</tr></thead><tbody>\n";
}

std::string TableEnd() { return "</tbody></table></div>\n"; }

std::string ExportLinks(std::string_view path, LinkParams params) {
  params.emplace_back("format", "csv");
  std::string html = "<p class=\"export\">This list as " + Link(path, params, "CSV");
  params.back().second = "json";
  return html + " · " + Link(path, params, "JSON") + "</p>\n";
}

}  // namespace hostlore
