// The ODBC engine (unixODBC): PostgreSQL through psqlODBC, SQL Server
// through FreeTDS or Microsoft's driver, any data source through odbc:.
#pragma once

#include <memory>
#include <string>

#include "db/engine_connection.h"
#include "platform/status.h"

namespace hostlore {

// Seconds that a connection attempt may take.
inline constexpr int kOdbcLoginTimeoutSeconds = 15;

enum class OdbcAccess { kReadWrite, kReadOnly };

// Connects with `connection_string` and picks the engine's traits from the
// DBMS that the driver reports. Failure: the driver or server refused the
// connection (the description holds the driver's diagnostics), or the DBMS is
// none that Hostlore knows. kReadOnly asks the driver for a read-only
// connection and, on PostgreSQL, makes every transaction of the session
// read-only, so that the server refuses any write.
Result<std::shared_ptr<EngineConnection>> OpenOdbcConnection(
    const std::string& connection_string, OdbcAccess access = OdbcAccess::kReadWrite);

// The ODBC driver for SQL Server: Microsoft's where it is registered,
// FreeTDS otherwise.
std::string SqlServerOdbcDriver();

}  // namespace hostlore
