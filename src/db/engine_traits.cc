#include "db/engine_traits.h"

namespace hostlore {
namespace {

// SQLite: the rowid is stable for the row's life.
// PostgreSQL: ctid is the tuple's physical place; every UPDATE writes a new
//   tuple, so the new ctid comes back from RETURNING.
// SQL Server: offers no row address that a client may rely on, so every
//   table of our schema ends in an IDENTITY column, RowId (schema/sqlserver.sql).
// Transactions of one serial key wait for each other on a lock that the
// server releases at the transaction's end: an advisory lock on the key's
// hash (PostgreSQL), an application lock on the key (SQL Server, which cuts
// it to 255 characters).
// Only PostgreSQL hashes rows on the server (md5 over string_agg); SQL
// Server's CHECKSUM_AGG could miss a change, and SQLite reads its rows locally.
constexpr EngineTraits kTraits[] = {
    {Engine::kSqlite, "SQLite", "rowid", "rowid = ?", false, "", " LIMIT 1", "",
     " RETURNING *, rowid", '"', '"', false, false, "", ""},
    {Engine::kPostgreSql, "PostgreSQL", "ctid", "ctid = CAST(? AS tid)", true, "", " LIMIT 1", "",
     " RETURNING *, ctid", '"', '"', true, false,
     "SELECT pg_advisory_xact_lock(hashtextextended(?, 0))", "md5(string_agg(%s, '/'))"},
    {Engine::kSqlServer, "SQL Server", "RowId", "RowId = ?", false, "TOP 1 ", "",
     " OUTPUT INSERTED.*, INSERTED.RowId", "", '[', ']', true, true,
     "EXEC sp_getapplock @Resource = ?, @LockMode = 'Exclusive', @LockOwner = 'Transaction'", ""},
};

}  // namespace

const EngineTraits& TraitsOf(Engine engine) {
  for (const EngineTraits& traits : kTraits) {
    if (traits.engine == engine) return traits;
  }
  return kTraits[0];
}

}  // namespace hostlore
