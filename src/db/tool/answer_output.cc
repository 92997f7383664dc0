#include "db/tool/answer_output.h"

namespace hostlore {

std::optional<AnswerFormat> AnswerFormatFromName(std::string_view name) {
  if (name == "text") return AnswerFormat::kText;
  if (name == "csv") return AnswerFormat::kCsv;
  if (name == "json") return AnswerFormat::kJson;
  return std::nullopt;
}

Status PrintAnswer(AnswerFormat format, std::ostream& out,
                   const std::function<Result<AnswerTable>(QueryPage)>& fetch) {
  bool first_row = true;
  if (format == AnswerFormat::kJson) out << "[";
  for (int64_t offset = 0;; offset += kOutputPage) {
    Result<AnswerTable> page = fetch({offset, kOutputPage});
    if (!page.ok()) return page.status();
    switch (format) {
      case AnswerFormat::kText:
        WriteTextTable(page.value(), out, offset == 0);
        break;
      case AnswerFormat::kCsv:
        if (offset == 0) out << CsvHeader(page.value());
        out << CsvRows(page.value());
        break;
      case AnswerFormat::kJson:
        for (const nlohmann::ordered_json& row : JsonRows(page.value())) {
          out << (first_row ? "\n" : ",\n") << JsonText(row);
          first_row = false;
        }
        break;
    }
    if (static_cast<int64_t>(page->rows.size()) < kOutputPage) break;
  }
  if (format == AnswerFormat::kJson) out << "\n]\n";
  return Status::Ok();
}

}  // namespace hostlore
