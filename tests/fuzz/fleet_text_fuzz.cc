// libFuzzer target for the readers of stored text (which came from the
// targets) and of the web view's request parameters: whatever the bytes,
// the readers stay within them, escaping leaves no markup and no byte that
// is no UTF-8, and a parameter is either taken or refused with a reason.
#include <httplib.h>

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "db/drive_history_text.h"
#include "db/history_records.h"
#include "db/query_time.h"
#include "db/software_list_text.h"
#include "util/escape.h"
#include "util/text.h"
#include "web/request_params.h"

namespace {

void Require(bool condition) {
  if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace hostlore;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  for (const HistoryRecord& record : ParseHistory(text)) Require(record.time.empty() || record.time.size() == 19);
  for (const SoftwareRow& row : ParseSoftwareList(text).rows) {
    Require(!row[0].empty());
    SplitProductFields(row[3]);
  }
  ParseDriveHistory(text);
  if (std::optional<std::string> time = ParseQueryTime(text)) Require(time->size() == 19);
  Require(FoldCase(text).size() == text.size());

  const std::string html = Escape(text, EscapeFor::kHtml);
  Require(html.find_first_of("<>\"'") == std::string::npos);
  Require(Escape(html, EscapeFor::kTerminal) == html);  // valid UTF-8, no control characters left
  const std::string cell = Escape(text, EscapeFor::kCsvCell);
  Require(cell.empty() || (cell[0] != '=' && cell[0] != '+' && cell[0] != '-' && cell[0] != '@'));

  httplib::Params params;
  httplib::detail::parse_query_text(std::string(text), params);
  RequestParams request(params, {"q", "page", "since", "stale", "format"});
  request.Text("q");
  request.Number("page", 1, 1000000000);
  request.Time("since");
  request.Flag("stale");
  request.Choice("format", {"html", "csv", "json"});
  Require(request.ok() || !request.error().empty());
  return 0;
}
