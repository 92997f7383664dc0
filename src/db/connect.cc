#include "db/connect.h"

#include "db/cached_record_set.h"
#include "db/odbc_connection.h"
#include "db/sqlite_connection.h"

namespace hostlore {
namespace {

// psqlODBC takes attribute values as they stand (no braces), so a ";" that
// would start another attribute is dropped.
std::string Plain(std::string_view value) {
  std::string out;
  for (const char c : value) {
    if (c != ';') out += c;
  }
  return out;
}

// "postgresql://[USER@]HOST[:PORT]/DB" to a psqlODBC connection string.
std::string PostgreSqlConnection(std::string_view rest) {
  std::string_view authority = rest.substr(0, rest.find('/'));
  const std::string_view database =
      authority.size() < rest.size() ? rest.substr(authority.size() + 1) : std::string_view();
  // Without MaxVarcharSize psqlODBC reports a varchar longer than 255 as long
  // text, and its declared length is lost. Debian registers the driver with
  // its communication log on, which logs every statement of a connection to
  // a file in /tmp; off for ours (the driver still notes the disconnect
  // there unless the log is off in odbcinst.ini too).
  std::string out = "Driver={PostgreSQL Unicode};MaxVarcharSize=65535;CommLog=0;Debug=0;";
  const size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    out += "UID=" + Plain(authority.substr(0, at)) + ";";
    authority.remove_prefix(at + 1);
  }
  std::string_view host = authority;
  std::string_view port;
  const size_t colon = authority.rfind(':');
  if (colon != std::string_view::npos && authority.find(']', colon) == std::string_view::npos) {
    host = authority.substr(0, colon);
    port = authority.substr(colon + 1);
  }
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  out += "Server=" + Plain(host) + ";";
  if (!port.empty()) out += "Port=" + Plain(port) + ";";
  if (!database.empty()) out += "Database=" + Plain(database) + ";";
  return out;
}

}  // namespace

std::string OdbcBraced(std::string_view value) {
  std::string out = "{";
  for (const char c : value) {
    out += c;
    if (c == '}') out += '}';
  }
  out += '}';
  return out;
}

ConnectionTarget ParseServerField(std::string_view field, std::string_view sql_server_driver) {
  ConnectionTarget target;
  if (field.starts_with("sqlite:")) {
    target.sqlite = true;
    target.sqlite_path = std::string(field.substr(7));
  } else if (field.starts_with("postgresql://")) {
    target.odbc_connection = PostgreSqlConnection(field.substr(13));
  } else if (field.starts_with("odbc:")) {
    target.odbc_connection = std::string(field.substr(5));
  } else {
    target.sql_server = true;
    target.odbc_connection = "Driver=" + OdbcBraced(sql_server_driver) +
                             ";Server=" + OdbcBraced(field) +
                             ";Database=BrindleAsset;Trusted_Connection=Yes;";
  }
  return target;
}

Result<std::shared_ptr<EngineConnection>> ConnectEngine(std::string_view sql_server_field) {
  // Finding the SQL Server driver lists the installed ODBC drivers, which
  // reads odbcinst.ini once per driver: only a SQL Server name pays for it.
  ConnectionTarget target = ParseServerField(sql_server_field, "");
  if (target.sql_server) target = ParseServerField(sql_server_field, SqlServerOdbcDriver());
  if (target.sqlite) return OpenSqliteConnection(target.sqlite_path);
  return OpenOdbcConnection(target.odbc_connection);
}

Result<std::shared_ptr<EngineConnection>> ConnectEngineReadOnly(std::string_view sql_server_field) {
  ConnectionTarget target = ParseServerField(sql_server_field, "");
  if (target.sql_server) target = ParseServerField(sql_server_field, SqlServerOdbcDriver());
  if (target.sqlite) return OpenSqliteConnection(target.sqlite_path, SqliteAccess::kReadOnly);
  return OpenOdbcConnection(target.odbc_connection, OdbcAccess::kReadOnly);
}

Result<std::unique_ptr<Database>> ConnectDatabase(std::string_view sql_server_field) {
  Result<std::shared_ptr<EngineConnection>> engine = ConnectEngine(sql_server_field);
  if (!engine.ok()) return engine.status();
  return NewEngineDatabase(std::move(engine).value());
}

}  // namespace hostlore
