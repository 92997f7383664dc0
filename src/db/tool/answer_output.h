// Printing an answer that may be long: fetched a page at a time, printed as
// text, CSV or JSON as it comes.
#pragma once

#include <functional>
#include <optional>
#include <ostream>
#include <string_view>

#include "db/answer_table.h"
#include "db/fleet_query.h"
#include "platform/status.h"

namespace hostlore {

enum class AnswerFormat { kText, kCsv, kJson };
std::optional<AnswerFormat> AnswerFormatFromName(std::string_view name);  // text, csv, json

// Rows per page fetched.
inline constexpr int64_t kOutputPage = 5000;

// Calls `fetch` for pages of kOutputPage rows until one comes back short,
// printing each. Text pads each page's columns on its own. Failure: what
// `fetch` reported; what was printed before stays printed.
Status PrintAnswer(AnswerFormat format, std::ostream& out,
                   const std::function<Result<AnswerTable>(QueryPage)>& fetch);

}  // namespace hostlore
