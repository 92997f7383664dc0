// Printing an answer that may be long: as text, CSV or JSON, chunk by chunk
// as the query reads it.
#pragma once

#include <optional>
#include <ostream>
#include <string_view>

#include "db/answer_table.h"
#include "platform/status.h"

namespace hostlore {

enum class AnswerFormat { kText, kCsv, kJson };
std::optional<AnswerFormat> AnswerFormatFromName(std::string_view name);  // text, csv, json

// Runs `stream` and prints each chunk as it comes; text pads each chunk's
// columns on its own. Failure: what the query reported; what was printed
// before stays printed.
Status PrintAnswer(AnswerFormat format, std::ostream& out, const AnswerStream& stream);

}  // namespace hostlore
