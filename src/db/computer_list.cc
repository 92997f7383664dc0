#include "db/computer_list.h"

#include "db/paged_select.h"
#include "util/text.h"

namespace hostlore {
namespace {

constexpr std::string_view kSortNames[] = {"name", "address", "os", "user", "memory", "last-contact",
                                           "last-change"};
// ORDER BY for each sort; every one ends on the name, so pages never overlap.
constexpr std::string_view kSortColumns[] = {"folded", "address_key", "os", "user", "memory_mb",
                                             "last_contact", "last_change"};
// Whether the column may be Null: Nulls come last whatever the direction.
// Only these take the extra term, which no index can serve.
constexpr bool kSortNullable[] = {false, true, false, false, true, true, true};

constexpr char kColumns[] =
    "name, address, os, service_pack, domain, user, manufacturer, model, memory_mb, last_inventory, "
    "last_contact, last_change, first_seen, outcome, inventoried, "
    "(last_contact IS NULL OR last_contact < ?) AS stale";

}  // namespace

std::string_view ComputerSortName(ComputerSort sort) { return kSortNames[static_cast<size_t>(sort)]; }

std::optional<ComputerSort> ComputerSortFromName(std::string_view name) {
  for (size_t i = 0; i < std::size(kSortNames); ++i) {
    if (kSortNames[i] == name) return static_cast<ComputerSort>(i);
  }
  return std::nullopt;
}

Result<ComputerPage> ListComputers(IndexDb& index, const ComputerFilter& filter, const StaleRule& stale,
                                   QueryPage page, const std::function<void(ComputerRow&&)>& each) {
  // Conditions and their values, in marker order after the stale limit.
  std::string where = " WHERE 1 = 1";
  QueryValues values;
  const auto add = [&](std::string_view condition, std::optional<std::string> value) {
    where += " AND ";
    where += condition;
    values.push_back(std::move(value));
  };
  if (!filter.text.empty()) add("instr(search, ?) > 0", FoldCase(filter.text));
  if (filter.operating_system) add("os = ?", filter.operating_system);
  if (filter.domain) add("domain = ?", filter.domain);
  if (filter.outcome) add("outcome = ?", std::string(OutcomeName(*filter.outcome)));
  if (filter.stale) {
    add(*filter.stale ? "(last_contact IS NULL OR last_contact < ?)" : "last_contact >= ?", stale.before);
  }
  if (filter.first_seen_since) add("first_seen >= ?", filter.first_seen_since);

  const std::string column(kSortColumns[static_cast<size_t>(filter.sort)]);
  const std::string direction = filter.descending ? " DESC" : "";
  const std::string nulls_last = kSortNullable[static_cast<size_t>(filter.sort)] ? "(" + column + " IS NULL), " : "";
  const std::string order = " ORDER BY " + nulls_last + column + direction + ", name" + direction;

  ComputerPage result;
  if (page.count) {
    Result<int64_t> total = CountRows(index, "SELECT COUNT(*) FROM computer" + where, values);
    if (!total.ok()) return total.status();
    result.total = total.value();
  }

  const Status selected = SelectPage(
      index, std::string("SELECT ") + kColumns + " FROM computer" + where + order + " LIMIT ? OFFSET ?", stale,
      values, page, [&](const IndexStatement& select) {
        ComputerRow computer;
        computer.name = select.Text(0);
        computer.address = select.Text(1);
        computer.operating_system = select.Text(2);
        computer.service_pack = select.Text(3);
        computer.domain = select.Text(4);
        computer.user = select.Text(5);
        computer.manufacturer = select.Text(6);
        computer.model = select.Text(7);
        if (!select.IsNull(8)) computer.memory_mb = select.Integer(8);
        computer.last_inventory = select.OptionalText(9);
        computer.last_contact = select.OptionalText(10);
        computer.last_change = select.OptionalText(11);
        computer.first_seen = select.OptionalText(12);
        computer.outcome = OutcomeFromName(select.Text(13)).value_or(ContactOutcome::kInventoried);
        computer.inventoried = select.Integer(14) != 0;
        computer.stale = select.Integer(15) != 0;
        if (each) each(std::move(computer));
        else result.rows.push_back(std::move(computer));
      });
  if (!selected.ok()) return selected;
  return result;
}

AnswerTable ComputerTable(const std::vector<ComputerRow>& rows) {
  AnswerTable table{{"name", "address", "operating_system", "service_pack", "domain", "user", "memory_mb",
                     "manufacturer", "model", "last_contact", "last_inventory", "last_change", "first_seen",
                     "outcome", "stale"},
                    {}};
  const auto optional = [](const std::optional<std::string>& text) -> AnswerCell {
    if (text) return *text;
    return std::monostate();
  };
  for (const ComputerRow& row : rows) {
    AnswerCell memory = std::monostate();
    if (row.memory_mb) memory = *row.memory_mb;
    table.rows.push_back({row.name, row.address, row.operating_system, row.service_pack, row.domain, row.user,
                          memory, row.manufacturer, row.model, optional(row.last_contact),
                          optional(row.last_inventory), optional(row.last_change), optional(row.first_seen),
                          std::string(OutcomeName(row.outcome)), row.stale});
  }
  return table;
}

}  // namespace hostlore
