#include "db/change_list.h"
#include "web/list_page.h"
#include "web/pages.h"

namespace hostlore {

WebReply ServeChanges(const QueryParams& query, PageContext& context) {
  RequestParams params(query, {"since", "kind", "computer", "format", "page", "per_page"});
  const ListRequest request = ReadListRequest(params);
  ChangeFilter filter;
  filter.since = params.Time("since");
  filter.computer = params.Text("computer");
  if (std::optional<std::string> kind = params.Text("kind")) {
    filter.kind = ChangeKindFromName(*kind);
    if (!filter.kind) {
      return BadRequest("parameter \"kind\" takes new, hardware, drive, installed, removed, software or other",
                        request.format);
    }
  }
  if (!params.ok()) return BadRequest(params.error(), request.format);
  ListView list{"/changes", {}};
  for (const char* name : {"since", "kind", "computer"}) {
    if (std::optional<std::string> value = params.Text(name)) list.view.emplace_back(name, *value);
  }
  std::shared_ptr<FleetIndex> index = context.index;
  const StaleRule stale = context.stale;
  if (request.format == ReplyFormat::kCsv) {
    return CsvReply("changes.csv", [index, filter, stale](const AnswerChunks& chunks) {
      return StreamAnswer<ChangeRow>(
          [&](const auto& each) { return ListChanges(index->db(), filter, stale, {0, -1, false}, each).status(); },
          ChangeTable, chunks);
    });
  }
  Result<ChangePage> found = ListChanges(index->db(), filter, stale, request.query_page());
  if (!found.ok()) return Unavailable("the fleet index cannot be read: " + found.status().description(), request.format);
  if (request.format == ReplyFormat::kJson) {
    return ListJson(list, request, found->total, JsonRowsText(ChangeTable(found->rows)));
  }

  const auto given = [&](const char* name) {
    const auto found_param = query.find(name);
    return found_param == query.end() ? std::string() : Html(found_param->second);
  };
  std::string body = "<form class=\"filters\" method=\"get\" action=\"/changes\">"
                     "<label>Since <input type=\"date\" name=\"since\" value=\"" + given("since") + "\"></label>"
                     "<label>Computer <input type=\"search\" name=\"computer\" value=\"" + given("computer") + "\"></label>"
                     "<label>Kind <select name=\"kind\"><option value=\"\">any</option>";
  for (const ChangeKind kind : {ChangeKind::kHardware, ChangeKind::kDrive, ChangeKind::kInstalled,
                                ChangeKind::kRemoved, ChangeKind::kSoftware, ChangeKind::kNewRecord,
                                ChangeKind::kOther}) {
    body += "<option" + std::string(filter.kind == kind ? " selected" : "") + ">" + Html(ChangeKindName(kind)) + "</option>";
  }
  body += "</select></label><button type=\"submit\">Show</button></form>\n";
  body += Pager(list, request, found->total);
  body += TableStart("changes", {"Time", "Computer", "Kind", "Change"}, true);
  for (const ChangeRow& row : found->rows) {
    body += std::string("<tr") + (row.stale ? " class=\"stale\"" : "") + "><td>" + Html(row.time) + "</td><td>" +
            ComputerCell(row.computer, row.stale) + "</td><td>" + Html(ChangeKindName(row.kind)) + "</td><td>" +
            Html(row.message) + "</td></tr>\n";
  }
  body += TableEnd() + Pager(list, request, found->total) + ExportLinks(list.path, list.view);
  return {200, "text/html; charset=utf-8", RenderPage({"Changes", "changes", body, Footer(context)}), {}, {}};
}

}  // namespace hostlore
