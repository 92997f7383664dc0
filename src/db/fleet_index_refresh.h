// Keeping the fleet index current. Every update run stamps the computer's
// LastScanned. A refresh first asks the server for a digest of all stamps and
// contacts where the engine computes one, and ends there when it is the one
// the index was built from. Otherwise it reads the stamps of all computers
// (one short query), reads again the rows and texts of the computers whose stamp
// changed, drops the computers that are gone, and brings the last contacts
// up to date from LastAccess. A computer's Asset row and its software list
// are read by one statement, so that they are of one moment.
#pragma once

#include <cstddef>
#include <ctime>
#include <functional>

#include "db/fleet_index.h"
#include "db/inventory_reader.h"
#include "platform/status.h"

namespace hostlore {

struct RefreshReport {
  size_t computers = 0;  // Asset rows in the inventory
  size_t read = 0;       // computers whose rows were read again
  size_t removed = 0;    // computers no longer in the inventory
};

// Called after each batch of computers read: how many so far, of how many.
using RefreshProgress = std::function<void(size_t done, size_t total)>;

// A refresh that reads more computers than this, and most of the fleet,
// drops the secondary indexes and builds them whole at its end, with the
// counts per program.
inline constexpr size_t kBulkRefresh = 1000;

// Brings `index` up to date with `inventory`; `now` stamps the refresh.
// Failure: the inventory or the index could not be read or written; what
// was refreshed before the failure stays, and the next refresh goes on.
Result<RefreshReport> RefreshFleetIndex(FleetIndex& index, InventoryReader& inventory, std::time_t now,
                                        const RefreshProgress& progress = {}, size_t bulk_above = kBulkRefresh);

}  // namespace hostlore
