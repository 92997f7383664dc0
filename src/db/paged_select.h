// The two statements behind a page of a fleet question: how many rows the
// whole answer has, and the rows of the page.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "db/fleet_query.h"
#include "db/index_sqlite.h"

namespace hostlore {

// Values bound in marker order; nullopt binds NULL.
using QueryValues = std::vector<std::optional<std::string>>;

// The one number that `sql` (a COUNT) gives with `values` bound.
Result<int64_t> CountRows(IndexDb& index, const std::string& sql, const QueryValues& values);

// Runs `sql`, whose markers are the stale limit, then `values`, then the
// page's limit and offset (it ends "LIMIT ? OFFSET ?"), and hands each row
// to `row` while the statement stands on it.
Status SelectPage(IndexDb& index, const std::string& sql, const StaleRule& stale, const QueryValues& values,
                  QueryPage page, const std::function<void(const IndexStatement&)>& row);

}  // namespace hostlore
