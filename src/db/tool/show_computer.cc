#include "db/tool/show_computer.h"

#include <string_view>

#include "db/table_layout.h"
#include "util/escape.h"

namespace hostlore {
namespace {

std::string Shown(const FieldValue& value) {
  if (value.is_null()) return "(Null)";
  return Escape(ValueAsText(value).value(), EscapeFor::kTerminal);
}

std::string Safe(std::string_view text) { return Escape(text, EscapeFor::kTerminal); }

}  // namespace

void PrintComputerRecord(const ComputerRecord& record, std::ostream& out) {
  if (record.asset.empty()) {
    out << "No Asset row for " << Safe(record.name) << "\n";
  } else {
    out << "Asset (" << Safe(record.name) << ")\n";
    const TableLayout& layout = *FindTableLayout("Asset");
    for (size_t ordinal = 0; ordinal < layout.columns.size(); ++ordinal) {
      const ColumnLayout& column = layout.columns[ordinal];
      if (column.kind == ColumnKind::kSpare || ordinal == static_cast<size_t>(asset::kHistory)) continue;
      out << "  " << ordinal << " " << column.name << ": " << Shown(record.asset[ordinal]) << "\n";
    }
    out << "History\n";
    for (const HistoryRecord& entry : record.history) {
      out << "  " << Safe(entry.time) << "  " << Safe(entry.message) << "\n";
    }
  }
  out << "Software\n";
  for (const SoftwareRow& row : record.software.rows) {
    const ProductFields product = EntryProductFields(row);
    out << "  " << Safe(row[0]) << " | " << Safe(row[1]) << " | " << Safe(row[2]) << " | "
        << Safe(product.product_id) << " | " << Safe(product.company) << " | " << Safe(product.owner) << "\n";
  }
  if (!record.software.complete) out << "  (an empty entry ends the stored list here: the rest is not read)\n";
  out << "Services\n";
  for (const std::string& name : record.services) out << "  " << Safe(name) << "\n";
  out << "Drive history\n";
  for (const DriveHistoryRecord& drive : record.drives) {
    for (const DriveDay& day : drive.days) {
      out << "  " << drive.letter << ": " << Safe(day.date) << "  " << Safe(day.free_text) << "\n";
    }
  }
  out << "Last access\n";
  if (record.accesses.empty()) out << "  (no row)\n";
  for (const AccessRecord& access : record.accesses) {
    out << "  " << (access.time ? Safe(*access.time) : "(Null)");
    if (access.name != record.name) out << " (as " << Safe(access.name) << ")";
    out << "\n";
  }
}

}  // namespace hostlore
