#include "db/change_list.h"

#include "db/paged_select.h"
#include "util/text.h"

namespace hostlore {

// Newest first in the order of the time index (time, computer, seq), so
// that a page of the newest records reads only that page.
Result<ChangePage> ListChanges(IndexDb& index, const ChangeFilter& filter, const StaleRule& stale,
                               QueryPage page, const std::function<void(ChangeRow&&)>& each) {
  std::string where = " WHERE 1 = 1";
  QueryValues values;
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
    Result<int64_t> total =
        CountRows(index,
                  all ? "SELECT CAST(value AS INTEGER) FROM meta WHERE key = 'changes'"
                      : "SELECT COUNT(*)" + (filter.computer ? from : std::string(" FROM change ch")) + where,
                  values);
    if (!total.ok()) return total.status();
    result.total = total.value();
  }

  const Status selected = SelectPage(
      index,
      "SELECT ch.time, c.name, ch.kind, ch.subject, ch.message, (c.last_contact IS NULL OR c.last_contact < ?)" +
          from + where + " ORDER BY ch.time DESC, ch.computer DESC, ch.seq DESC LIMIT ? OFFSET ?",
      stale, values, page, [&](const IndexStatement& select) {
        ChangeRow change{select.Text(0), select.Text(1),
                         ChangeKindFromName(select.Text(2)).value_or(ChangeKind::kOther), select.Text(3),
                         select.Text(4), select.Integer(5) != 0};
        if (each) each(std::move(change));
        else result.rows.push_back(std::move(change));
      });
  if (!selected.ok()) return selected;
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
