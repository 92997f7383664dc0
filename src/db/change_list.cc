#include "db/change_list.h"

#include "util/text.h"

namespace hostlore {

// Newest first in the order of the time index (time, computer, seq), so
// that a page of the newest records reads only that page.
Result<ChangePage> ListChanges(IndexDb& index, const ChangeFilter& filter, const StaleRule& stale,
                               QueryPage page, const std::function<void(ChangeRow&&)>& each) {
  std::string where = " WHERE 1 = 1";
  std::vector<std::string> values;
  if (filter.since) {
    where += " AND ch.time >= ?";
    values.push_back(*filter.since);
  }
  if (filter.kind) {
    where += " AND ch.kind = ?";
    values.push_back(std::string(ChangeKindName(*filter.kind)));
  }
  if (filter.computer) {
    where += " AND c.folded = ?";
    values.push_back(FoldCase(*filter.computer));
  }
  const std::string from = " FROM change ch JOIN computer c ON c.id = ch.computer";
  ChangePage result;
  if (page.count) {
    // Every record: the refresh counted them.
    const bool all = values.empty();
    Result<IndexStatement> count =
        all ? index.Prepare("SELECT CAST(value AS INTEGER) FROM meta WHERE key = 'changes'")
            : index.Prepare("SELECT COUNT(*)" + (filter.computer ? from : std::string(" FROM change ch")) + where);
    if (!count.ok()) return count.status();
    for (size_t i = 0; i < values.size(); ++i) count->Bind(static_cast<int>(i) + 1, std::string_view(values[i]));
    if (Result<bool> row = count->Step(); !row.ok()) return row.status();
    result.total = count->Integer(0);
  }

  Result<IndexStatement> select = index.Prepare(
      "SELECT ch.time, c.name, ch.kind, ch.subject, ch.message, (c.last_contact IS NULL OR c.last_contact < ?)" +
      from + where + " ORDER BY ch.time DESC, ch.computer DESC, ch.seq DESC LIMIT ? OFFSET ?");
  if (!select.ok()) return select.status();
  int marker = 1;
  select->Bind(marker++, std::string_view(stale.before));
  for (const std::string& value : values) select->Bind(marker++, std::string_view(value));
  select->Bind(marker, page.limit).Bind(marker + 1, page.offset);
  for (;;) {
    Result<bool> row = select->Step();
    if (!row.ok()) return row.status();
    if (!row.value()) break;
    ChangeRow change{select->Text(0), select->Text(1),
                     ChangeKindFromName(select->Text(2)).value_or(ChangeKind::kOther), select->Text(3),
                     select->Text(4), select->Integer(5) != 0};
    if (each) each(std::move(change));
    else result.rows.push_back(std::move(change));
  }
  return result;
}

AnswerTable ChangeTable(const std::vector<ChangeRow>& rows) {
  AnswerTable table{{"time", "computer", "kind", "subject", "message", "stale"}, {}};
  for (const ChangeRow& row : rows) {
    table.rows.push_back({row.time, row.computer, std::string(ChangeKindName(row.kind)), row.subject,
                          row.message, row.stale});
  }
  return table;
}

}  // namespace hostlore
