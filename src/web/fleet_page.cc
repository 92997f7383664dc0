#include "db/fleet_summary.h"
#include "db/last_contact.h"
#include "web/list_page.h"
#include "web/pages.h"
#include "web/svg_chart.h"

namespace hostlore {
namespace {

// The fleet page lists this many stale, new computers and changes.
constexpr int64_t kListLength = 10;

std::string CountTable(const std::string& heading, const std::string& filter, const std::vector<CountRow>& rows,
                       int64_t whole, bool outcomes) {
  std::string html = "<section><h2>" + Html(heading) + "</h2>" +
                     TableStart("counts", {Html(heading), "Computers", ""});
  for (const CountRow& row : rows) {
    std::string label = row.value.empty() ? "(none)" : row.value;
    if (outcomes) {
      if (std::optional<ContactOutcome> outcome = OutcomeFromName(row.value)) label = OutcomeLabel(*outcome);
    }
    const std::string cell = row.value.empty() ? Html(label) : Link("/computers", {{filter, row.value}}, label);
    html += "<tr><td>" + cell + "</td><td class=\"number\">" +
            std::to_string(row.computers) + "</td><td class=\"bar\">" + CountBar(row.computers, whole) +
            "</td></tr>\n";
  }
  return html + TableEnd() + "</section>\n";
}

std::string ComputerList(const ComputerPage& page, bool show_contact) {
  std::string html = "<ul class=\"computers\">";
  for (const ComputerRow& row : page.rows) {
    html += "<li>" + ComputerCell(row.name, row.stale);
    html += show_contact ? " · last reached " + TimeCell(row.last_contact) : " · first seen " + TimeCell(row.first_seen);
    html += "</li>";
  }
  return html + "</ul>\n";
}

}  // namespace

WebReply ServeFleet(const QueryParams& query, PageContext& context) {
  RequestParams params(query, {"format"});
  const ReplyFormat format = ReadFormat(params);
  if (!params.ok()) return BadRequest(params.error(), format);
  Result<FleetSummary> summary = SummarizeFleet(context.index->db(), context.stale, context.new_since, kListLength);
  if (!summary.ok()) return Unavailable("the fleet index cannot be read: " + summary.status().description(), format);
  const FleetSummary& fleet = summary.value();
  if (format == ReplyFormat::kCsv) {
    return CsvReply("fleet.csv", FleetCountTable(fleet));
  }
  if (format == ReplyFormat::kJson) {
    nlohmann::ordered_json json;
    json["computers"] = fleet.computers;
    json["counts"] = JsonRows(FleetCountTable(fleet));
    json["stale"] = {{"total", fleet.stale.total}, {"rows", JsonRows(ComputerTable(fleet.stale.rows))}};
    json["new"] = {{"since", context.new_since}, {"total", fleet.newcomers.total},
                   {"rows", JsonRows(ComputerTable(fleet.newcomers.rows))}};
    json["newest_changes"] = JsonRows(ChangeTable(fleet.newest_changes));
    json["index_read"] = context.refreshed ? nlohmann::ordered_json(*context.refreshed) : nlohmann::ordered_json();
    return JsonReply(json);
  }

  std::string body = "<p class=\"lead\">" + std::to_string(fleet.computers) + " computers · " +
                     Link("/computers", {{"stale", "yes"}}, std::to_string(fleet.stale.total) + " stale") + " · " +
                     Link("/computers", {{"new", "yes"}}, std::to_string(fleet.newcomers.total) + " new this week") +
                     "</p>\n<div class=\"grid\">";
  body += CountTable("Operating system", "os", fleet.by_os, fleet.computers, false);
  body += CountTable("Domain", "domain", fleet.by_domain, fleet.computers, false);
  body += CountTable("Last contact", "outcome", fleet.by_outcome, fleet.computers, true);
  body += "</div>\n<div class=\"grid\"><section><h2>Stale</h2><p>Not reached for " +
          std::to_string(context.stale_days) + " days, longest first.</p>" + ComputerList(fleet.stale, true) +
          "<p>" + Link("/computers", {{"stale", "yes"}, {"sort", "last-contact"}}, "All stale computers") +
          "</p></section>\n<section><h2>New this week</h2>" + ComputerList(fleet.newcomers, false) + "<p>" +
          Link("/computers", {{"new", "yes"}}, "All new computers") + "</p></section></div>\n";
  body += "<section><h2>Newest changes</h2>" + TableStart("changes", {"Time", "Computer", "Kind", "Change"});
  for (const ChangeRow& row : fleet.newest_changes) {
    body += std::string("<tr") + (row.stale ? " class=\"stale\"" : "") + "><td>" + Html(row.time) + "</td><td>" +
            ComputerCell(row.computer, row.stale) + "</td><td>" + Html(ChangeKindName(row.kind)) + "</td><td>" +
            Html(row.message) + "</td></tr>\n";
  }
  body += TableEnd() + "<p>" + Link("/changes", {}, "All changes") + "</p></section>\n";
  body += ExportLinks("/", {});
  return {200, "text/html; charset=utf-8", RenderPage({"Fleet", "fleet", body, Footer(context)}), {}, {}};
}

}  // namespace hostlore
