#include "web/list_page.h"

#include <algorithm>

namespace hostlore {

ReplyFormat ReadFormat(RequestParams& params) {
  const std::optional<size_t> format = params.Choice("format", {"html", "csv", "json"});
  return format ? static_cast<ReplyFormat>(*format) : ReplyFormat::kHtml;
}

ListRequest ReadListRequest(RequestParams& params) {
  ListRequest request;
  request.format = ReadFormat(params);
  request.page = params.Number("page", 1, 1000000000).value_or(1);
  request.per_page = params.Number("per_page", 1, kMaxPerPage).value_or(kDefaultPerPage);
  return request;
}

namespace {

LinkParams WithPage(const ListView& list, const ListRequest& request, int64_t page) {
  LinkParams params = list.view;
  if (page > 1) params.emplace_back("page", std::to_string(page));
  if (request.per_page != kDefaultPerPage) params.emplace_back("per_page", std::to_string(request.per_page));
  return params;
}

}  // namespace

std::string Pager(const ListView& list, const ListRequest& request, int64_t total) {
  const int64_t first = (request.page - 1) * request.per_page;
  std::string html = "<p class=\"pager\">";
  if (first >= total) {
    html += total == 0 ? "Nothing to show." : "No rows on this page; there are " + std::to_string(total) + ".";
  } else {
    html += "Rows " + std::to_string(first + 1) + " to " +
            std::to_string(std::min(total, first + request.per_page)) + " of " + std::to_string(total) + ".";
  }
  if (request.page > 1) {
    html += " " + Link(list.path, WithPage(list, request, request.page - 1), "‹ Previous");
  }
  if (first + request.per_page < total) {
    html += " " + Link(list.path, WithPage(list, request, request.page + 1), "Next ›");
  }
  return html + "</p>\n";
}

WebReply ListJson(const ListView& list, const ListRequest& request, int64_t total, const std::string& rows) {
  nlohmann::ordered_json json;
  json["total"] = total;
  json["page"] = request.page;
  json["per_page"] = request.per_page;
  LinkParams next = WithPage(list, request, request.page + 1);
  next.emplace_back("format", "json");
  json["next"] = request.page * request.per_page < total ? nlohmann::ordered_json(Url(list.path, next))
                                                          : nlohmann::ordered_json(nullptr);
  std::string text = JsonText(json);
  text.pop_back();  // the closing brace: the rows go last
  WebReply reply;
  reply.content_type = "application/json";
  reply.body = text + ",\"rows\":" + rows + "}\n";
  return reply;
}

WebReply CsvReply(std::string download_name, AnswerStream stream) {
  WebReply reply;
  reply.content_type = "text/csv; charset=utf-8";
  reply.download_name = std::move(download_name);
  reply.csv_stream = std::move(stream);
  return reply;
}

WebReply CsvReply(std::string download_name, AnswerTable table) {
  return CsvReply(std::move(download_name), [table = std::move(table)](const AnswerChunks& chunks) {
    chunks(table);
    return Status::Ok();
  });
}

}  // namespace hostlore
