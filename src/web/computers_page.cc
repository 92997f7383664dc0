#include "db/computer_list.h"
#include "web/list_page.h"
#include "web/pages.h"

namespace hostlore {
namespace {

struct Column {
  const char* heading;
  ComputerSort sort;
};
constexpr Column kColumns[] = {{"Name", ComputerSort::kName},          {"Address", ComputerSort::kAddress},
                               {"Operating system", ComputerSort::kOperatingSystem},
                               {"User", ComputerSort::kUser},          {"Memory (MB)", ComputerSort::kMemory},
                               {"Last contact", ComputerSort::kLastContact},
                               {"Last change", ComputerSort::kLastChange}};

// A header that sorts by its column, the other way round when it already does.
std::string SortHeader(const ListView& list, const Column& column, const ComputerFilter& filter) {
  const bool current = filter.sort == column.sort;
  const std::string key(ComputerSortName(column.sort));
  LinkParams params;
  for (const auto& param : list.view) {
    if (param.first != "sort") params.push_back(param);
  }
  const std::string sort = current && !filter.descending ? "-" + key : key;
  if (sort != "name") params.emplace_back("sort", sort);
  std::string text = column.heading;
  if (current) text += filter.descending ? " ↓" : " ↑";
  return Link(list.path, params, text);
}

std::string FilterForm(const ComputerFilter& filter, const QueryParams& query) {
  const auto value = [&](const char* name) {
    const auto found = query.find(name);
    return found == query.end() ? std::string() : Html(found->second);
  };
  std::string html = "<form class=\"filters\" method=\"get\" action=\"/computers\">"
                     "<label>Name, address, user or system <input type=\"search\" name=\"q\" value=\"" +
                     value("q") + "\"></label>";
  html += "<label>Contact <select name=\"outcome\"><option value=\"\">any</option>";
  for (const ContactOutcome outcome :
       {ContactOutcome::kInventoried, ContactOutcome::kNotInventoried, ContactOutcome::kNeverAnswered}) {
    html += "<option value=\"" + Html(OutcomeName(outcome)) + "\"" +
            (filter.outcome == outcome ? " selected" : "") + ">" + Html(OutcomeLabel(outcome)) + "</option>";
  }
  html += "</select></label><label>Stale <select name=\"stale\"><option value=\"\">any</option>";
  html += std::string("<option value=\"yes\"") + (filter.stale == true ? " selected" : "") + ">stale</option>";
  html += std::string("<option value=\"no\"") + (filter.stale == false ? " selected" : "") + ">reached</option>";
  html += "</select></label>";
  for (const char* hidden : {"os", "domain", "new", "sort"}) {
    if (!value(hidden).empty()) html += "<input type=\"hidden\" name=\"" + std::string(hidden) + "\" value=\"" + value(hidden) + "\">";
  }
  return html + "<button type=\"submit\">Show</button></form>\n";
}

}  // namespace

WebReply ServeComputers(const QueryParams& query, PageContext& context) {
  RequestParams params(query, {"q", "os", "domain", "outcome", "stale", "new", "sort", "format", "page", "per_page"});
  const ListRequest request = ReadListRequest(params);
  ComputerFilter filter;
  filter.text = params.Text("q").value_or("");
  filter.operating_system = params.Text("os");
  filter.domain = params.Text("domain");
  if (std::optional<size_t> outcome = params.Choice("outcome", {"inventoried", "not-inventoried", "never-answered"})) {
    filter.outcome = static_cast<ContactOutcome>(*outcome);
  }
  filter.stale = params.Flag("stale");
  if (params.Flag("new").value_or(false)) filter.first_seen_since = context.new_since;
  if (std::optional<std::string> sort = params.Text("sort")) {
    filter.descending = sort->starts_with('-');
    std::optional<ComputerSort> key = ComputerSortFromName(filter.descending ? sort->substr(1) : *sort);
    if (!key) return BadRequest("parameter \"sort\" takes name, address, os, user, memory, last-contact or "
                                "last-change, with a leading - for the other way round", request.format);
    filter.sort = *key;
  }
  if (!params.ok()) return BadRequest(params.error(), request.format);

  ListView list{"/computers", {}};
  for (const char* name : {"q", "os", "domain", "outcome", "stale", "new", "sort"}) {
    if (std::optional<std::string> value = params.Text(name)) list.view.emplace_back(name, *value);
  }
  std::shared_ptr<FleetIndex> index = context.index;
  const StaleRule stale = context.stale;
  if (request.format == ReplyFormat::kCsv) {
    return CsvReply("computers.csv", [index, filter, stale](const AnswerChunks& chunks) {
      return StreamAnswer<ComputerRow>(
          [&](const auto& each) { return ListComputers(index->db(), filter, stale, {0, -1, false}, each).status(); },
          ComputerTable, chunks);
    });
  }
  Result<ComputerPage> found = ListComputers(index->db(), filter, stale, request.query_page());
  if (!found.ok()) return Unavailable("the fleet index cannot be read: " + found.status().description(), request.format);
  if (request.format == ReplyFormat::kJson) {
    return ListJson(list, request, found->total, JsonRowsText(ComputerTable(found->rows)));
  }

  std::string body = FilterForm(filter, query);
  if (filter.operating_system) body += "<p>Operating system: " + Html(*filter.operating_system) + "</p>";
  if (filter.domain) body += "<p>Domain: " + Html(*filter.domain) + "</p>";
  if (filter.first_seen_since) body += "<p>First seen since " + Html(*filter.first_seen_since) + "</p>";
  body += Pager(list, request, found->total);
  std::vector<std::string> headers;
  for (const Column& column : kColumns) headers.push_back(SortHeader(list, column, filter));
  headers.push_back("Contact");
  body += TableStart("computers", headers, true);
  for (const ComputerRow& row : found->rows) {
    body += std::string("<tr") + (row.stale ? " class=\"stale\"" : "") + "><td>" + ComputerCell(row.name, row.stale) +
            "</td><td>" + Html(row.address) + "</td><td>" + Html(row.operating_system) + "</td><td>" +
            Html(row.user) + "</td><td class=\"number\">" +
            (row.memory_mb ? std::to_string(*row.memory_mb) : std::string()) + "</td><td>" +
            TimeCell(row.last_contact) + "</td><td>" + TimeCell(row.last_change) + "</td><td>" +
            Html(OutcomeLabel(row.outcome)) + "</td></tr>\n";
  }
  body += TableEnd() + Pager(list, request, found->total) + ExportLinks(list.path, list.view);
  return {200, "text/html; charset=utf-8", RenderPage({"Computers", "computers", body, Footer(context)}), {}, {}};
}

}  // namespace hostlore
