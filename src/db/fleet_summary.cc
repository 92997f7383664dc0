#include "db/fleet_summary.h"

namespace hostlore {
namespace {

Result<std::vector<CountRow>> CountBy(IndexDb& index, std::string_view column) {
  Result<IndexStatement> select = index.Prepare("SELECT " + std::string(column) +
                                                ", COUNT(*) FROM computer GROUP BY 1 ORDER BY 2 DESC, 1");
  if (!select.ok()) return select.status();
  std::vector<CountRow> counts;
  for (;;) {
    Result<bool> row = select->Step();
    if (!row.ok()) return row.status();
    if (!row.value()) return counts;
    counts.push_back({select->Text(0), select->Integer(1)});
  }
}

}  // namespace

Result<FleetSummary> SummarizeFleet(IndexDb& index, const StaleRule& stale, const std::string& new_since,
                                    int64_t list_length) {
  FleetSummary summary;
  for (auto [counts, column] : {std::pair{&summary.by_os, "os"}, std::pair{&summary.by_domain, "domain"},
                                std::pair{&summary.by_outcome, "outcome"}}) {
    Result<std::vector<CountRow>> found = CountBy(index, column);
    if (!found.ok()) return found.status();
    *counts = std::move(found).value();
  }
  for (const CountRow& row : summary.by_outcome) summary.computers += row.computers;

  ComputerFilter stale_filter;
  stale_filter.stale = true;
  stale_filter.sort = ComputerSort::kLastContact;
  Result<ComputerPage> stale_page = ListComputers(index, stale_filter, stale, {0, list_length});
  if (!stale_page.ok()) return stale_page.status();
  summary.stale = std::move(stale_page).value();

  ComputerFilter new_filter;
  new_filter.first_seen_since = new_since;
  new_filter.sort = ComputerSort::kName;
  Result<ComputerPage> new_page = ListComputers(index, new_filter, stale, {0, list_length});
  if (!new_page.ok()) return new_page.status();
  summary.newcomers = std::move(new_page).value();

  Result<ChangePage> changes = ListChanges(index, {}, stale, {0, list_length, false});
  if (!changes.ok()) return changes.status();
  summary.newest_changes = std::move(changes->rows);
  return summary;
}

AnswerTable FleetCountTable(const FleetSummary& summary) {
  AnswerTable table{{"list", "value", "computers"}, {}};
  for (auto [name, counts] : {std::pair{"operating_system", &summary.by_os},
                              std::pair{"domain", &summary.by_domain}, std::pair{"outcome", &summary.by_outcome}}) {
    for (const CountRow& row : *counts) table.rows.push_back({std::string(name), row.value, row.computers});
  }
  table.rows.push_back({std::string("stale"), std::string(), summary.stale.total});
  table.rows.push_back({std::string("new"), std::string(), summary.newcomers.total});
  return table;
}

}  // namespace hostlore
