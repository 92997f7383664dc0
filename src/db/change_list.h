// "What changed?": the history records of the fleet, newest first, since a
// time, of a kind, of a computer.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "db/answer_table.h"
#include "db/change_kind.h"
#include "db/fleet_query.h"
#include "db/index_sqlite.h"

namespace hostlore {

struct ChangeFilter {
  std::optional<std::string> since;     // stored time: records at or after it
  std::optional<ChangeKind> kind;
  std::optional<std::string> computer;  // its name, without regard to case
};

struct ChangeRow {
  std::string time, computer;
  ChangeKind kind = ChangeKind::kOther;
  std::string subject, message;
  bool stale = false;
};

struct ChangePage {
  int64_t total = 0;
  std::vector<ChangeRow> rows;
};

// With `each`, the rows go to it as they are read instead of into the page.
Result<ChangePage> ListChanges(IndexDb& index, const ChangeFilter& filter, const StaleRule& stale,
                               QueryPage page, const std::function<void(ChangeRow&&)>& each = {});

// time, computer, kind, subject, message, stale.
AnswerTable ChangeTable(const std::vector<ChangeRow>& rows);

}  // namespace hostlore
