#include "web/pages.h"

namespace hostlore {

std::string ComputerHref(const std::string& name) { return Href("/computer", {{"name", name}}); }

std::string ComputerCell(const std::string& name, bool stale) {
  std::string html = "<a href=\"" + ComputerHref(name) + "\">" + Html(name.empty() ? "(no name)" : name) + "</a>";
  if (stale) html += " <span class=\"tag\">stale</span>";
  return html;
}

std::string TimeCell(const std::optional<std::string>& time) { return time ? Html(*time) : "–"; }

}  // namespace hostlore
