#include "db/software_search.h"
#include "web/list_page.h"
#include "web/pages.h"

namespace hostlore {

WebReply ServeSoftware(const QueryParams& query, PageContext& context) {
  RequestParams params(query, {"q", "format", "page", "per_page"});
  const ListRequest request = ReadListRequest(params);
  const std::string text = params.Text("q").value_or("");
  if (!params.ok()) return BadRequest(params.error(), request.format);
  ListView list{"/software", {{"q", text}}};
  std::shared_ptr<FleetIndex> index = context.index;
  if (request.format == ReplyFormat::kCsv) {
    return CsvReply("software.csv", [index, text](const AnswerChunks& chunks) {
      return StreamAnswer<ProgramSummary>(
          [&](const auto& each) { return SearchPrograms(index->db(), text, {0, -1, false}, each).status(); },
          ProgramTable, chunks);
    });
  }
  Result<ProgramPage> found = SearchPrograms(index->db(), text, request.query_page());
  if (!found.ok()) return Unavailable("the fleet index cannot be read: " + found.status().description(), request.format);
  if (request.format == ReplyFormat::kJson) {
    nlohmann::ordered_json programs = nlohmann::ordered_json::array();
    for (const ProgramSummary& program : found->programs) {
      programs.push_back({{"program", program.name},
                          {"computers", program.computers},
                          {"versions", JsonRows(ProgramTable({program}))}});
    }
    return ListJson(list, request, found->total, JsonText(programs));
  }

  std::string body = "<form class=\"filters\" method=\"get\" action=\"/software\"><label>Program name holds "
                     "<input type=\"search\" name=\"q\" value=\"" + Html(text) + "\"></label>"
                     "<button type=\"submit\">Search</button></form>\n";
  body += Pager(list, request, found->total);
  body += TableStart("software", {"Program", "Computers", "Versions (computers)"}, true);
  for (const ProgramSummary& program : found->programs) {
    body += "<tr><td>" + Link("/software/computers", {{"program", program.name}}, program.name) +
            "</td><td class=\"number\">" + std::to_string(program.computers) + "</td><td><ul class=\"versions\">";
    for (const VersionCount& version : program.versions) {
      body += "<li>" +
              Link("/software/computers", {{"program", program.name}, {"version", version.version}},
                   version.version.empty() ? "(no version)" : version.version) +
              " (" + std::to_string(version.computers) + ")</li>";
    }
    body += "</ul></td></tr>\n";
  }
  body += TableEnd() + Pager(list, request, found->total) + ExportLinks(list.path, list.view);
  return {200, "text/html; charset=utf-8", RenderPage({"Software", "software", body, Footer(context)}), {}, {}};
}

WebReply ServeInstallations(const QueryParams& query, PageContext& context) {
  RequestParams params(query, {"program", "version", "q", "format", "page", "per_page"});
  const ListRequest request = ReadListRequest(params);
  InstallationFilter filter;
  filter.program = params.Text("program");
  filter.version = params.Text("version");
  filter.text = params.Text("q").value_or("");
  if (!params.ok()) return BadRequest(params.error(), request.format);
  if (!filter.program && filter.text.empty()) {
    return BadRequest("parameter \"program\" (a name) or \"q\" (part of one) is needed", request.format);
  }
  ListView list{"/software/computers", {{"program", filter.program.value_or("")},
                                        {"version", filter.version.value_or("")},
                                        {"q", filter.text}}};
  std::shared_ptr<FleetIndex> index = context.index;
  const StaleRule stale = context.stale;
  if (request.format == ReplyFormat::kCsv) {
    return CsvReply("installations.csv", [index, filter, stale](const AnswerChunks& chunks) {
      return StreamAnswer<InstallationRow>(
          [&](const auto& each) {
            return ListInstallations(index->db(), filter, stale, {0, -1, false}, each).status();
          },
          InstallationTable, chunks);
    });
  }
  Result<InstallationPage> found = ListInstallations(index->db(), filter, stale, request.query_page());
  if (!found.ok()) return Unavailable("the fleet index cannot be read: " + found.status().description(), request.format);
  if (request.format == ReplyFormat::kJson) {
    return ListJson(list, request, found->total, JsonRowsText(InstallationTable(found->rows)));
  }
  std::string title = filter.program ? *filter.program : "Programs holding \"" + filter.text + "\"";
  if (filter.version) title += " " + *filter.version;
  std::string body = "<p>" + Link("/software", {{"q", filter.program.value_or(filter.text)}}, "All versions") + "</p>";
  body += Pager(list, request, found->total);
  body += TableStart("installations", {"Computer", "Program", "Version", "Last contact"}, true);
  for (const InstallationRow& row : found->rows) {
    body += std::string("<tr") + (row.stale ? " class=\"stale\"" : "") + "><td>" + ComputerCell(row.computer, row.stale) +
            "</td><td>" + Html(row.program) + "</td><td>" + Html(row.version) + "</td><td>" + TimeCell(row.last_contact) +
            "</td></tr>\n";
  }
  body += TableEnd() + Pager(list, request, found->total) + ExportLinks(list.path, list.view);
  return {200, "text/html; charset=utf-8", RenderPage({title, "software", body, Footer(context)}), {}, {}};
}

}  // namespace hostlore
