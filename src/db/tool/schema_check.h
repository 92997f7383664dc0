// hostlore-db init and check: create the five tables, and compare a
// database's tables with the layout by ordinal and kind.
#pragma once

#include <string>
#include <vector>

#include "db/engine_connection.h"
#include "platform/status.h"

namespace hostlore {

// Runs the engine's schema script (it creates only what is missing).
Status InitSchema(EngineConnection& connection);

// One line per difference between the database and the layout, naming the
// table, the ordinal and what differs; empty when the database matches.
// Names are not compared: the agent never uses them.
std::vector<std::string> CheckSchema(EngineConnection& connection);

}  // namespace hostlore
