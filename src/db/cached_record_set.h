// The result set and connection of database.h over any EngineConnection.
#pragma once

#include <memory>

#include "platform/database/database.h"
#include "db/engine_connection.h"

namespace hostlore {

// A Database whose result sets run on `connection`; each result set shares
// the connection, so it may outlive this object.
std::unique_ptr<Database> NewEngineDatabase(std::shared_ptr<EngineConnection> connection);

}  // namespace hostlore
