// The fleet at a glance: how many computers by operating system, by domain
// and by how their last contact ended; the stale ones; the newest changes;
// the computers new since a time.
#pragma once

#include <string>
#include <vector>

#include "db/answer_table.h"
#include "db/change_list.h"
#include "db/computer_list.h"

namespace hostlore {

struct CountRow {
  std::string value;  // the system, domain or outcome name; empty for none
  int64_t computers = 0;
};

struct FleetSummary {
  int64_t computers = 0;
  std::vector<CountRow> by_os, by_domain, by_outcome;  // most computers first
  ComputerPage stale;                                  // longest unreached first
  ComputerPage newcomers;                              // by name
  std::vector<ChangeRow> newest_changes;
};

// `list_length` rows of each list; the pages carry the full counts.
Result<FleetSummary> SummarizeFleet(IndexDb& index, const StaleRule& stale, const std::string& new_since,
                                    int64_t list_length);

// list ("operating_system", "domain", "outcome", "stale", "new"), value,
// computers.
AnswerTable FleetCountTable(const FleetSummary& summary);

}  // namespace hostlore
