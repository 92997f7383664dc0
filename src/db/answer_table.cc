#include "db/answer_table.h"

#include <algorithm>

#include "util/escape.h"
#include "util/text.h"

namespace hostlore {
namespace {

constexpr size_t kMaxTextWidth = 40;

std::string PlainText(const AnswerCell& cell) {
  if (const auto* text = std::get_if<std::string>(&cell)) return *text;
  if (const auto* number = std::get_if<int64_t>(&cell)) return std::to_string(*number);
  if (const auto* flag = std::get_if<bool>(&cell)) return *flag ? "yes" : "no";
  return {};
}

}  // namespace

std::string CsvHeader(const AnswerTable& table) {
  std::string out;
  for (size_t i = 0; i < table.columns.size(); ++i) {
    if (i > 0) out += ',';
    out += Escape(table.columns[i], EscapeFor::kCsvCell);
  }
  return out + "\r\n";
}

std::string CsvRows(const AnswerTable& table) {
  std::string out;
  for (const std::vector<AnswerCell>& row : table.rows) {
    for (size_t i = 0; i < row.size(); ++i) {
      if (i > 0) out += ',';
      if (const auto* flag = std::get_if<bool>(&row[i])) {
        out += *flag ? "true" : "false";
      } else if (const auto* text = std::get_if<std::string>(&row[i])) {
        AppendEscaped(out, *text, EscapeFor::kCsvCell);
      } else {
        out += PlainText(row[i]);
      }
    }
    out += "\r\n";
  }
  return out;
}

nlohmann::ordered_json JsonRows(const AnswerTable& table) {
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  for (const std::vector<AnswerCell>& row : table.rows) {
    nlohmann::ordered_json object = nlohmann::ordered_json::object();
    for (size_t i = 0; i < row.size() && i < table.columns.size(); ++i) {
      nlohmann::ordered_json& cell = object[table.columns[i]];
      if (const auto* text = std::get_if<std::string>(&row[i])) cell = *text;
      else if (const auto* number = std::get_if<int64_t>(&row[i])) cell = *number;
      else if (const auto* flag = std::get_if<bool>(&row[i])) cell = *flag;
    }
    rows.push_back(std::move(object));
  }
  return rows;
}

std::string JsonRowsText(const AnswerTable& table) {
  std::string text = "[";
  for (size_t first = 0; first < table.rows.size(); ++first) {
    const AnswerTable one{table.columns, {table.rows[first]}};
    text += (first == 0 ? "" : ",") + JsonText(JsonRows(one)[0]);
  }
  return text + "]";
}

std::string JsonText(const nlohmann::ordered_json& value, int indent) {
  return value.dump(indent, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

void WriteTextTable(const AnswerTable& table, std::ostream& out, bool header) {
  // Each cell escaped and measured once; the lines of the whole table are
  // then written in one piece. Most cells are printable ASCII, which the
  // terminal escape leaves as it is: those are measured by their size and
  // written from the table itself.
  struct Cell {
    std::string escaped;
    const std::string* plain;
    size_t shown;
    std::string_view text() const { return plain != nullptr ? std::string_view(*plain) : escaped; }
  };
  const auto printable = [](const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
  };
  const auto cell = [&](const std::string& text) {
    if (printable(text)) return Cell{{}, &text, text.size()};
    std::string escaped = Escape(text, EscapeFor::kTerminal);
    const size_t shown = CountCharacters(escaped);
    return Cell{std::move(escaped), nullptr, shown};
  };
  std::vector<std::vector<Cell>> lines;
  lines.reserve(table.rows.size() + 1);
  if (header) {
    std::vector<Cell>& line = lines.emplace_back();
    for (const std::string& column : table.columns) line.push_back(cell(column));
  }
  for (const std::vector<AnswerCell>& row : table.rows) {
    std::vector<Cell>& line = lines.emplace_back();
    line.reserve(row.size());
    for (const AnswerCell& value : row) {
      if (const auto* text = std::get_if<std::string>(&value)) {
        line.push_back(cell(*text));
      } else {
        std::string plain = PlainText(value);
        const size_t shown = plain.size();
        line.push_back(Cell{std::move(plain), nullptr, shown});
      }
    }
  }
  std::vector<size_t> widths(table.columns.size(), 0);
  for (const std::vector<Cell>& line : lines) {
    for (size_t i = 0; i < line.size() && i < widths.size(); ++i) {
      widths[i] = std::max(widths[i], std::min(line[i].shown, kMaxTextWidth));
    }
  }
  std::string text;
  for (const std::vector<Cell>& line : lines) {
    const size_t start = text.size();
    for (size_t i = 0; i < line.size(); ++i) {
      text += line[i].text();
      if (i + 1 == line.size()) break;
      const size_t width = i < widths.size() ? widths[i] : 0;
      text.append(line[i].shown < width ? width - line[i].shown + 2 : 2, ' ');
    }
    while (text.size() > start && text.back() == ' ') text.pop_back();
    text += '\n';
  }
  out << text;
}

}  // namespace hostlore
