// The SQL texts that the engines run, built from our own table and column
// names and the engine's traits. Values never enter these texts: each text
// has "?" markers for them.
#pragma once

#include <string>
#include <string_view>

#include "platform/database/database.h"
#include "db/engine_traits.h"

namespace hostlore {

// Columns that every SELECT adds after the query's own columns, and that no
// result set shows: the row identity and the number of selected rows.
inline constexpr int kHiddenColumns = 2;

// The first selected row of `query` plus its two hidden columns, the second
// counting the whole selection, so that only one row crosses the wire. A
// per-key query has one marker, the key.
std::string SelectFirstRowSql(const EngineTraits& traits, const TableQuery& query);

// Inserts a row with one column set (one marker) and hands back the stored
// row, then its identity.
std::string InsertRowSql(const EngineTraits& traits, std::string_view table,
                         std::string_view column);

// Sets one column of the row with a given identity. With `to_null` the value
// is the literal NULL and the only marker is the identity; otherwise the
// markers are the value, then the identity. Where identities move, the
// statement returns the new one.
std::string UpdateColumnSql(const EngineTraits& traits, std::string_view table,
                            std::string_view column, bool to_null);

// `name` between the engine's identifier quotes, inner quotes doubled.
std::string QuoteName(const EngineTraits& traits, std::string_view name);

}  // namespace hostlore
