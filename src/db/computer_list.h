// "Which computers are there?": the fleet's computers with their summary,
// filtered, sorted and a page at a time; also the stale and the new ones.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/answer_table.h"
#include "db/fleet_query.h"
#include "db/index_sqlite.h"
#include "db/last_contact.h"

namespace hostlore {

enum class ComputerSort { kName, kAddress, kOperatingSystem, kUser, kMemory, kLastContact, kLastChange };

// "name", "address", "os", "user", "memory", "last-contact", "last-change".
std::string_view ComputerSortName(ComputerSort sort);
std::optional<ComputerSort> ComputerSortFromName(std::string_view name);

struct ComputerFilter {
  std::string text;  // part of the name, address, user or system, without regard to case
  std::optional<std::string> operating_system;  // exactly
  std::optional<std::string> domain;            // exactly
  std::optional<ContactOutcome> outcome;
  std::optional<bool> stale;
  std::optional<std::string> first_seen_since;  // stored time; new computers
  ComputerSort sort = ComputerSort::kName;
  bool descending = false;
};

struct ComputerRow {
  std::string name, address, operating_system, service_pack, domain, user, manufacturer, model;
  std::optional<int64_t> memory_mb;
  std::optional<std::string> last_inventory, last_contact, last_change, first_seen;
  ContactOutcome outcome = ContactOutcome::kInventoried;
  bool inventoried = false;
  bool stale = false;
};

struct ComputerPage {
  int64_t total = 0;  // rows of the whole answer
  std::vector<ComputerRow> rows;
};

// With `each`, the rows go to it as they are read instead of into the page.
Result<ComputerPage> ListComputers(IndexDb& index, const ComputerFilter& filter, const StaleRule& stale,
                                   QueryPage page, const std::function<void(ComputerRow&&)>& each = {});

// name, address, operating_system, service_pack, domain, user, memory_mb,
// manufacturer, model, last_contact, last_inventory, last_change,
// first_seen, outcome, stale.
AnswerTable ComputerTable(const std::vector<ComputerRow>& rows);

}  // namespace hostlore
