// The inventory opened for reading, with its fleet index: how hostlore-db
// and hostlore-web open what they answer from.
#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "db/engine_connection.h"
#include "db/fleet_index.h"
#include "db/inventory_reader.h"
#include "platform/status.h"

namespace hostlore {

struct FleetSource {
  std::string server;
  std::unique_ptr<InventoryReader> reader;  // on a read-only connection
  std::unique_ptr<FleetIndex> index;        // open for refreshing
  std::string index_path;                   // the file in use
};

// Connects to `server` read-only and opens the index at `index_path` (empty:
// DefaultIndexPath). When that file cannot be used the index goes to
// `fallback_path` (":memory:" keeps it in this process) and `notes` says
// why. Failure: the inventory cannot be reached or read, or neither index
// file can be used.
Result<FleetSource> OpenFleetSource(const std::string& server, const std::string& index_path,
                                    const std::string& fallback_path, std::ostream& notes);

}  // namespace hostlore
