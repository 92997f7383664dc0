#include "db/tool/answer_output.h"

namespace hostlore {

std::optional<AnswerFormat> AnswerFormatFromName(std::string_view name) {
  if (name == "text") return AnswerFormat::kText;
  if (name == "csv") return AnswerFormat::kCsv;
  if (name == "json") return AnswerFormat::kJson;
  return std::nullopt;
}

Status PrintAnswer(AnswerFormat format, std::ostream& out, const AnswerStream& stream) {
  bool first_chunk = true;
  bool first_row = true;
  if (format == AnswerFormat::kJson) out << "[";
  const Status done = stream([&](const AnswerTable& chunk) {
    switch (format) {
      case AnswerFormat::kText:
        WriteTextTable(chunk, out, first_chunk);
        break;
      case AnswerFormat::kCsv:
        if (first_chunk) out << CsvHeader(chunk);
        out << CsvRows(chunk);
        break;
      case AnswerFormat::kJson:
        for (const nlohmann::ordered_json& row : JsonRows(chunk)) {
          out << (first_row ? "\n" : ",\n") << JsonText(row);
          first_row = false;
        }
        break;
    }
    first_chunk = false;
  });
  if (format == AnswerFormat::kJson) out << "\n]\n";
  return done;
}

}  // namespace hostlore
