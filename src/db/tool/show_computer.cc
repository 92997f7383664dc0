#include "db/tool/show_computer.h"

#include <string_view>

#include "db/table_layout.h"
#include "db/table_queries.h"

namespace hostlore {
namespace {

std::string Shown(const FieldValue& value) {
  if (value.is_null()) return "(Null)";
  return ValueAsText(value).value();
}

// `text` cut at every `mark`, each piece passed on; empty pieces skipped.
template <typename Each>
void ForEachPiece(std::string_view text, std::string_view mark, Each each) {
  while (!text.empty()) {
    const size_t end = text.find(mark);
    const std::string_view piece = text.substr(0, end);
    if (!piece.empty()) each(piece);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + mark.size());
  }
}

std::string ReplaceAll(std::string_view text, std::string_view from, std::string_view to) {
  std::string out;
  for (size_t at; (at = text.find(from)) != std::string_view::npos;) {
    out += text.substr(0, at);
    out += to;
    text.remove_prefix(at + from.size());
  }
  out += text;
  return out;
}

Result<std::unique_ptr<RecordSet>> OpenRow(Database& database, const TableQuery& query) {
  return database.Open(query);
}

}  // namespace

Status ShowComputer(Database& database, const std::string& computer, std::ostream& out) {
  Result<std::unique_ptr<RecordSet>> asset = OpenRow(database, AssetRowQuery(computer));
  if (!asset.ok()) return asset.status();
  RecordSet& row = *asset.value();
  if (row.RecordCount() == 0) {
    out << "No Asset row for " << computer << "\n";
  } else {
    out << "Asset (" << computer << ")\n";
    const TableLayout& layout = *FindTableLayout("Asset");
    for (size_t ordinal = 0; ordinal < layout.columns.size(); ++ordinal) {
      const ColumnLayout& column = layout.columns[ordinal];
      if (column.kind == ColumnKind::kSpare || ordinal == static_cast<size_t>(asset::kHistory)) continue;
      Result<FieldValue> value = row.Field(static_cast<int>(ordinal));
      out << "  " << ordinal << " " << column.name << ": " << (value.ok() ? Shown(value.value()) : "?") << "\n";
    }
    out << "History\n";
    Result<FieldValue> history = row.Field(asset::kHistory);
    if (history.ok() && history->is_text()) {
      ForEachPiece(history->text(), "^", [&](std::string_view record) {
        out << "  " << ReplaceAll(record, "~", "  ") << "\n";
      });
    }
  }

  Result<std::unique_ptr<RecordSet>> software = OpenRow(database, SoftwareRowQuery(computer));
  if (!software.ok()) return software.status();
  out << "Software\n";
  if (Result<FieldValue> list = software.value()->Field(1); list.ok() && list->is_text()) {
    ForEachPiece(list->text(), "^", [&](std::string_view entry) {
      out << "  " << ReplaceAll(entry, "\xC2\xA7", " | ") << "\n";
    });
  }
  Result<std::unique_ptr<RecordSet>> services = OpenRow(database, ServicesRowQuery(computer));
  if (!services.ok()) return services.status();
  out << "Services\n";
  if (Result<FieldValue> list = services.value()->Field(1); list.ok() && list->is_text()) {
    ForEachPiece(list->text(), "^", [&](std::string_view name) { out << "  " << name << "\n"; });
  }
  out << "Drive history\n";
  for (char letter = 'C'; letter <= 'J'; ++letter) {
    Result<std::unique_ptr<RecordSet>> drive =
        OpenRow(database, DriveHistoryRowQuery(computer + "~" + letter));
    if (!drive.ok()) return drive.status();
    Result<FieldValue> text = drive.value()->Field(1);
    if (!text.ok() || !text->is_text()) continue;
    ForEachPiece(text->text(), "^", [&](std::string_view record) {
      out << "  " << letter << ": " << ReplaceAll(record, ",", "  ") << "\n";
    });
  }
  Result<std::unique_ptr<RecordSet>> access = OpenRow(database, LastAccessRowQuery(computer));
  if (!access.ok()) return access.status();
  Result<FieldValue> when = access.value()->Field(1);
  out << "Last access\n  " << (when.ok() ? Shown(when.value()) : "(no row)") << "\n";
  return Status::Ok();
}

}  // namespace hostlore
