// From the server field of the command line to a database connection.
//
//   sqlite:PATH                     SQLite file, native library
//   postgresql://[USER@]HOST[:PORT]/DB   PostgreSQL through psqlODBC
//   odbc:CONNECTION-STRING          any ODBC data source, string as given
//   anything else                   SQL Server through ODBC: server = the
//                                   field, database BrindleAsset, Kerberos
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/database/database.h"
#include "db/engine_connection.h"
#include "platform/status.h"

namespace hostlore {

struct ConnectionTarget {
  bool sqlite = false;
  std::string sqlite_path;        // when sqlite
  std::string odbc_connection;    // otherwise
  bool sql_server = false;        // a SQL Server name: odbc_connection names the driver
};

// Never fails: every text names some target. `sql_server_driver` is the ODBC
// driver name for SQL Server (FreeTDS unless Microsoft's driver is there).
ConnectionTarget ParseServerField(std::string_view field, std::string_view sql_server_driver);

// The value between braces as ODBC connection strings quote it ("}" doubled),
// so that ";" or "=" inside a name cannot add attributes.
std::string OdbcBraced(std::string_view value);

// The engine behind `sql_server_field`.
Result<std::shared_ptr<EngineConnection>> ConnectEngine(std::string_view sql_server_field);

// The same engine opened for reading only: SQLite read-only (the file must
// exist and hold the tables), servers in read-only sessions. For the views
// of the inventory, which never write it.
Result<std::shared_ptr<EngineConnection>> ConnectEngineReadOnly(std::string_view sql_server_field);

// A connection to the database named by `sql_server_field`.
Result<std::unique_ptr<Database>> ConnectDatabase(std::string_view sql_server_field);

}  // namespace hostlore
