// An answer to a fleet question as a table: named columns, rows of cells.
// hostlore-db prints it as text, CSV or JSON; the web view sends the same
// CSV and JSON, so both programs export an answer alike.
#pragma once

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/status.h"

namespace hostlore {

// Nothing (JSON null, an empty CSV cell), text, a whole number, a flag.
using AnswerCell = std::variant<std::monostate, std::string, int64_t, bool>;

struct AnswerTable {
  std::vector<std::string> columns;
  std::vector<std::vector<AnswerCell>> rows;
};

// A long answer in chunks of at most kAnswerChunk rows, each with the
// columns; an empty answer is one chunk without rows.
inline constexpr size_t kAnswerChunk = 2000;
using AnswerChunks = std::function<void(const AnswerTable&)>;
// Runs a query and hands its rows on in chunks: `query` is called with a
// row callback and `to_table` turns collected rows into a chunk.
using AnswerStream = std::function<Status(const AnswerChunks&)>;
template <typename Row, typename Query, typename ToTable>
Status StreamAnswer(const Query& query, const ToTable& to_table, const AnswerChunks& chunks) {
  std::vector<Row> rows;
  bool sent = false;
  const Status done = query([&](Row&& row) {
    rows.push_back(std::move(row));
    if (rows.size() == kAnswerChunk) {
      chunks(to_table(rows));
      rows.clear();
      sent = true;
    }
  });
  if (done.ok() && (!rows.empty() || !sent)) chunks(to_table(rows));
  return done;
}

// RFC 4180 with CR LF line ends: the header line, then one line per row.
// Cells go through Escape(kCsvCell).
std::string CsvHeader(const AnswerTable& table);
std::string CsvRows(const AnswerTable& table);

// The rows as an array of objects keyed by column name, in column order.
nlohmann::ordered_json JsonRows(const AnswerTable& table);
// The same as JSON text, "[...]", one row at a time (no tree of the whole).
std::string JsonRowsText(const AnswerTable& table);
// JSON text in which text that is no UTF-8 shows U+FFFD instead of failing.
std::string JsonText(const nlohmann::ordered_json& value, int indent = -1);

// Columns padded to their width (at most 40 characters), one line per row,
// every cell escaped for a terminal; with `header`, the column names first.
void WriteTextTable(const AnswerTable& table, std::ostream& out, bool header = true);

}  // namespace hostlore
