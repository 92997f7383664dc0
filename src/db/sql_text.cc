#include "db/sql_text.h"

namespace hostlore {

std::string QuoteName(const EngineTraits& traits, std::string_view name) {
  std::string out(1, traits.quote_open);
  for (const char c : name) {
    out += c;
    if (c == traits.quote_close) out += c;
  }
  out += traits.quote_close;
  return out;
}

std::string SelectFirstRowSql(const EngineTraits& traits, const TableQuery& query) {
  std::string sql = "SELECT ";
  sql += traits.first_row_prefix;
  sql += "*, ";
  if (query.key) {
    sql += query.key_column;
    sql += " AS Expr1, ";
  }
  sql += traits.row_identity;
  if (query.key) {
    sql += " AS HlRowId, COUNT(*) OVER () AS HlRowCount FROM ";
    sql += query.table;
    sql += " WHERE (";
    sql += query.key_column;
    sql += " = ?)";
  } else {
    // Over a whole table the window would be computed over every row before
    // the first one is handed out; the count alone is cheap.
    sql += " AS HlRowId, (SELECT COUNT(*) FROM ";
    sql += query.table;
    sql += ") AS HlRowCount FROM ";
    sql += query.table;
  }
  sql += traits.first_row_suffix;
  return sql;
}

std::string InsertRowSql(const EngineTraits& traits, std::string_view table,
                         std::string_view column) {
  std::string sql = "INSERT INTO ";
  sql += table;
  sql += " (";
  sql += QuoteName(traits, column);
  sql += ")";
  sql += traits.insert_output_before_values;
  sql += " VALUES (?)";
  sql += traits.insert_output_after_values;
  return sql;
}

std::string UpdateColumnSql(const EngineTraits& traits, std::string_view table,
                            std::string_view column, bool to_null) {
  std::string sql = "UPDATE ";
  sql += table;
  sql += " SET ";
  sql += QuoteName(traits, column);
  sql += to_null ? " = NULL WHERE " : " = ? WHERE ";
  sql += traits.match_identity;
  if (traits.identity_moves_on_update) {
    sql += " RETURNING ";
    sql += traits.row_identity;
  }
  return sql;
}

}  // namespace hostlore
