#include "db/connect.h"

#include <gtest/gtest.h>

#include "db/engine_traits.h"
#include "db/schema_scripts.h"
#include "db/sql_text.h"

namespace hostlore {
namespace {

TEST(ParseServerFieldTest, EachEngineGetsItsConnection) {
  ConnectionTarget sqlite = ParseServerField("sqlite:/var/lib/hostlore/inv.db", "FreeTDS");
  EXPECT_TRUE(sqlite.sqlite);
  EXPECT_EQ(sqlite.sqlite_path, "/var/lib/hostlore/inv.db");

  constexpr char kPsql[] = "Driver={PostgreSQL Unicode};MaxVarcharSize=65535;CommLog=0;Debug=0;Protocol=7.4-1;";
  EXPECT_EQ(ParseServerField("postgresql://db.corp:5433/inventory", "FreeTDS").odbc_connection,
            kPsql + std::string("Server=db.corp;Port=5433;Database=inventory;"));
  EXPECT_EQ(ParseServerField("postgresql://agent@127.0.0.1/inv", "FreeTDS").odbc_connection,
            kPsql + std::string("UID=agent;Server=127.0.0.1;Database=inv;"));
  // User and password apart, escapes decoded, each braced whole.
  EXPECT_EQ(ParseServerField("postgresql://alice:S3c%40r;e}t@db:5432/inv", "FreeTDS").odbc_connection,
            kPsql + std::string("UID=alice;PWD={S3c@r;e}}t};Server=db;Port=5432;Database=inv;"));
  EXPECT_EQ(ParseServerField("odbc:DSN=Inventory;UID=x", "FreeTDS").odbc_connection,
            "DSN=Inventory;UID=x");
  EXPECT_EQ(ParseServerField("SQL01", "FreeTDS").odbc_connection,
            "Driver={FreeTDS};Server={SQL01};Database=BrindleAsset;Trusted_Connection=Yes;");

  // Only a SQL Server name is marked for the driver look-up.
  EXPECT_TRUE(ParseServerField("SQL01", "").sql_server);
  for (const char* field : {"sqlite:/x.db", "postgresql://h/inv", "odbc:DSN=Inventory"}) {
    EXPECT_FALSE(ParseServerField(field, "").sql_server) << field;
  }
}

TEST(ParseServerFieldTest, BracesKeepAServerNameFromAddingAttributes) {
  EXPECT_EQ(ParseServerField("evil};UID=sa;PWD={x", "FreeTDS").odbc_connection,
            "Driver={FreeTDS};Server={evil}};UID=sa;PWD={x};Database=BrindleAsset;"
            "Trusted_Connection=Yes;");
  EXPECT_EQ(ParseServerField("postgresql://h/inv;UID=x", "FreeTDS").odbc_connection,
            "Driver={PostgreSQL Unicode};MaxVarcharSize=65535;CommLog=0;Debug=0;Protocol=7.4-1;"
            "Server=h;Database=invUID=x;");
}

TEST(SqlTextTest, KeysAreMarkersAndRowsAreFoundByIdentity) {
  const TableQuery query = TableQuery::ForKey("Asset", "Computer", "O'Brien");
  EXPECT_EQ(SelectFirstRowSql(TraitsOf(Engine::kPostgreSql), query),
            "SELECT *, Computer AS Expr1, ctid AS HlRowId, COUNT(*) OVER () AS HlRowCount FROM "
            "Asset WHERE (Computer = ?) LIMIT 1");
  EXPECT_EQ(SelectFirstRowSql(TraitsOf(Engine::kSqlServer), TableQuery::AllRows("Asset", "Computer")),
            "SELECT TOP 1 *, RowId AS HlRowId, (SELECT COUNT(*) FROM Asset) AS HlRowCount FROM Asset");
  EXPECT_EQ(UpdateColumnSql(TraitsOf(Engine::kPostgreSql), "Asset", "history", false),
            "UPDATE Asset SET \"history\" = ? WHERE ctid = CAST(? AS tid) RETURNING ctid");
  EXPECT_EQ(UpdateColumnSql(TraitsOf(Engine::kSqlServer), "Asset", "Odd]Name", true),
            "UPDATE Asset SET [Odd]]Name] = NULL WHERE RowId = ?");
  EXPECT_EQ(InsertRowSql(TraitsOf(Engine::kSqlServer), "Software", "SoftComputer"),
            "INSERT INTO Software ([SoftComputer]) OUTPUT INSERTED.*, INSERTED.RowId VALUES (?)");
}

TEST(SchemaScriptTest, SplitsIntoStatementsWithoutComments) {
  const std::vector<std::string> statements =
      SplitSchemaScript("-- comment\nCREATE TABLE a (\n  x int\n);\n\nCREATE INDEX i ON a (x);\n");
  ASSERT_EQ(statements.size(), 2u);
  EXPECT_EQ(statements[0], "CREATE TABLE a (\n  x int\n)");
  for (const Engine engine : {Engine::kSqlite, Engine::kPostgreSql, Engine::kSqlServer}) {
    EXPECT_EQ(SplitSchemaScript(SchemaScript(engine)).size(), engine == Engine::kSqlServer ? 16u : 11u);
  }
}

}  // namespace
}  // namespace hostlore
