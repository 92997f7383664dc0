// What the list pages share: the format, the page and its size, the pager,
// the JSON envelope, and CSV answers streamed whole.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "web/request_params.h"
#include "web/web_reply.h"

namespace hostlore {

inline constexpr int64_t kDefaultPerPage = 100;
inline constexpr int64_t kMaxPerPage = 1000;

struct ListRequest {
  ReplyFormat format = ReplyFormat::kHtml;
  int64_t page = 1;
  int64_t per_page = kDefaultPerPage;

  QueryPage query_page() const { return {(page - 1) * per_page, per_page}; }
};

// "format": html, csv or json.
ReplyFormat ReadFormat(RequestParams& params);
// "format", "page" and "per_page".
ListRequest ReadListRequest(RequestParams& params);

// The view's address without its page: `view` holds its other parameters.
struct ListView {
  std::string path;
  LinkParams view;
};

// "Rows 101 to 200 of 10000", with links to the pages before and after.
std::string Pager(const ListView& list, const ListRequest& request, int64_t total);

// {"total", "page", "per_page", "next" (a link, or null), "rows"}, with
// `rows` already JSON text.
WebReply ListJson(const ListView& list, const ListRequest& request, int64_t total, const std::string& rows);

// Every row of an answer as CSV, sent as the query reads it.
WebReply CsvReply(std::string download_name, AnswerStream stream);
// The same for an answer already at hand.
WebReply CsvReply(std::string download_name, AnswerTable table);

}  // namespace hostlore
