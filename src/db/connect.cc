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

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// "%XX" escapes decoded, as in PostgreSQL's own connection URIs (a password
// that holds "@" or ":" is written with them escaped); anything else as is.
std::string PercentDecoded(std::string_view text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() &&
        HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

// "postgresql://[USER[:PASSWORD]@]HOST[:PORT]/DB" to a psqlODBC connection
// string.
std::string PostgreSqlConnection(std::string_view rest) {
  std::string_view authority = rest.substr(0, rest.find('/'));
  const std::string_view database =
      authority.size() < rest.size() ? rest.substr(authority.size() + 1) : std::string_view();
  // Without MaxVarcharSize psqlODBC reports a varchar longer than 255 as long
  // text, and its declared length is lost. Debian registers the driver with
  // its communication log on, which logs every statement of a connection to
  // a file in /tmp; off for ours (the driver still notes the disconnect
  // there unless the log is off in odbcinst.ini too). Protocol 7.4-1: a
  // failed statement fails its whole transaction, which the update run rolls
  // back anyway; the default (-2) wraps every statement of a transaction in
  // a savepoint of its own, a round trip each.
  std::string out = "Driver={PostgreSQL Unicode};MaxVarcharSize=65535;CommLog=0;Debug=0;Protocol=7.4-1;";
  const size_t at = authority.rfind('@');
  if (at != std::string_view::npos) {
    const std::string_view user_information = authority.substr(0, at);
    const size_t colon = user_information.find(':');
    // psqlODBC takes braces around a password but not around a user name.
    out += "UID=" + Plain(PercentDecoded(user_information.substr(0, colon))) + ";";
    if (colon != std::string_view::npos) {
      out += "PWD=" + OdbcBraced(PercentDecoded(user_information.substr(colon + 1))) + ";";
    }
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
