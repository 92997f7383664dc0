// What differs between database engines, in one table. The SQL builder
// (sql_text.h) and the ODBC binding read it; nothing else asks which engine
// it talks to.
#pragma once

#include <string_view>

namespace hostlore {

enum class Engine { kSqlite, kPostgreSql, kSqlServer };

struct EngineTraits {
  Engine engine;
  std::string_view name;  // for people: "SQLite", "PostgreSQL", "SQL Server"
  // How the current row is found again for a write. `row_identity` is selected
  // with every row; `match_identity` is the WHERE condition with one marker.
  std::string_view row_identity;
  std::string_view match_identity;
  // True when a write gives the row a new identity (PostgreSQL's ctid): the
  // UPDATE then returns the new one, so a write stays one round trip.
  bool identity_moves_on_update;
  // Limits a SELECT to its first row: a prefix after SELECT or a suffix.
  std::string_view first_row_prefix;
  std::string_view first_row_suffix;
  // How an INSERT hands back the stored row and its identity: a clause before
  // VALUES (SQL Server's OUTPUT) or after it (RETURNING).
  std::string_view insert_output_before_values;
  std::string_view insert_output_after_values;
  // Quotes around a column name taken from the result set's own metadata.
  char quote_open;
  char quote_close;
  // Text parameters go as Unicode (SQL_WVARCHAR, the N'' of SQL Server's
  // literals); SQLite takes UTF-8 natively.
  bool unicode_text_parameters;
  // SQLDescribeCol's column size 0 means "no limit" (SQL Server's max types).
  bool zero_size_is_unlimited;
  // Run first in a transaction, with its text marker bound to the
  // transaction's serial key: waits until no other transaction holds the
  // same key, and holds it until this one ends. Empty where the start of a
  // transaction serializes by itself (SQLite's BEGIN IMMEDIATE).
  std::string_view serialize_on_key;
  // An aggregate that hashes one text per row on the server, with "%s" for
  // the row's text; empty where the engine has none.
  std::string_view rows_digest;
};

const EngineTraits& TraitsOf(Engine engine);

}  // namespace hostlore
