// The database seam on both engines: what a result set holds and what each
// operation stores.
#include <gtest/gtest.h>

#include "db/connect.h"
#include "db/db_fixture.h"
#include "db/table_queries.h"

namespace hostlore::test {
namespace {

class RecordSetTest : public DbFixture {
 protected:
  std::unique_ptr<RecordSet> Open(const TableQuery& query) {
    if (!db_) {
      Result<std::unique_ptr<Database>> connected = ConnectDatabase(server_);
      EXPECT_TRUE(connected.ok()) << connected.status().description();
      db_ = std::move(connected).value();
    }
    Result<std::unique_ptr<RecordSet>> rows = db_->Open(query);
    EXPECT_TRUE(rows.ok()) << rows.status().description();
    return rows.ok() ? std::move(rows).value() : nullptr;
  }
  std::unique_ptr<Database> db_;
};

TEST_P(RecordSetTest, AddNewStoresTheKeyAndUpdatesStoreOneColumnEach) {
  std::unique_ptr<RecordSet> rows = Open(LastAccessRowQuery("PC042"));
  ASSERT_TRUE(rows);
  EXPECT_EQ(rows->RecordCount(), 0);
  EXPECT_EQ(rows->Field(0).status().description(), kNoCurrentRow);

  rows = Open(AllLastAccessRows());
  ASSERT_TRUE(rows->AddNew(0, FieldValue("PC042")).ok());
  EXPECT_EQ(rows->RecordCount(), 1);
  EXPECT_TRUE(rows->Field(1)->is_null());
  ASSERT_TRUE(rows->Update(1, FieldValue("")).ok());

  // Stored at once: a second connection sees the empty text, not Null.
  std::vector<FieldValue> stored = Row(LastAccessRowQuery("PC042"));
  ASSERT_EQ(stored.size(), 3u);  // the two columns and Expr1
  EXPECT_EQ(stored[0], FieldValue("PC042"));
  EXPECT_EQ(stored[1], FieldValue(""));
  EXPECT_EQ(stored[2], FieldValue("PC042"));

  rows = Open(LastAccessRowQuery("PC042"));
  ASSERT_TRUE(rows->Update(1, FieldValue::Null()).ok());
  EXPECT_TRUE(Row(LastAccessRowQuery("PC042"))[1].is_null());
  EXPECT_EQ(rows->Field(3).status().description(), kNoSuchColumn);
  EXPECT_EQ(rows->Update(2, FieldValue("x")).description(), kNoSuchColumn);  // Expr1
  rows->Close();
  EXPECT_FALSE(rows->Field(0).ok());
}

TEST_P(RecordSetTest, NumbersKeepTheirKindAndLengthsAreDeclared) {
  std::unique_ptr<RecordSet> rows = Open(AllAssetRows());
  ASSERT_TRUE(rows->AddNew(0, FieldValue("PC042")).ok());
  ASSERT_TRUE(rows->Update(10, FieldValue(2793.5)).ok());
  ASSERT_TRUE(rows->Update(17, FieldValue(int32_t{512})).ok());
  const std::vector<FieldValue> stored = Row(AssetRowQuery("PC042"));
  ASSERT_GE(stored.size(), 94u);
  EXPECT_EQ(stored[10], FieldValue(2793.5));
  EXPECT_EQ(stored[17], FieldValue(int64_t{512}));

  rows = Open(DriveHistoryRowQuery("PC042~C"));
  EXPECT_EQ(rows->DefinedSize(1).value(), 4000);
  EXPECT_EQ(rows->DefinedSize(0).value(), 255);
  rows = Open(AssetRowQuery("PC042"));
  EXPECT_EQ(rows->DefinedSize(92).value(), kUnlimitedLength);
  EXPECT_EQ(rows->DefinedSize(26).value(), 19);
}

TEST_P(RecordSetTest, DuplicateKeysReadAndWriteTheFirstRowReturned) {
  for (const char* access : {"first", "second"}) {
    std::unique_ptr<RecordSet> rows = Open(AllLastAccessRows());
    ASSERT_TRUE(rows->AddNew(0, FieldValue("PC042")).ok());
    ASSERT_TRUE(rows->Update(1, FieldValue(access)).ok());
  }
  std::unique_ptr<RecordSet> rows = Open(LastAccessRowQuery("PC042"));
  EXPECT_EQ(rows->RecordCount(), 2);
  ASSERT_EQ(rows->Field(1).value(), FieldValue("first"));
  // Several writes in a row keep to the same row, even where each write
  // moves it (PostgreSQL).
  for (const char* text : {"one", "two", "three"}) ASSERT_TRUE(rows->Update(1, FieldValue(text)).ok());
  EXPECT_EQ(Row(LastAccessRowQuery("PC042"))[1], FieldValue("three"));
  EXPECT_EQ(Count(LastAccessRowQuery("PC042")), 2);
}

TEST_P(RecordSetTest, KeysWithQuotesAndOtherLettersAreOnlyParameters) {
  const std::string names[] = {"O'Brien's PC", "Zoë-Øresund-日本", "x') OR ('1'='1", "\"; DROP TABLE Asset; --"};
  for (const std::string& name : names) {
    std::unique_ptr<RecordSet> rows = Open(AllSoftwareRows());
    ASSERT_TRUE(rows->AddNew(0, FieldValue(name)).ok()) << name;
    ASSERT_TRUE(rows->Update(1, FieldValue(name + " \xC2\xA7 list")).ok());
  }
  for (const std::string& name : names) {
    const std::vector<FieldValue> row = Row(SoftwareRowQuery(name));
    ASSERT_EQ(row.size(), 3u) << name;
    EXPECT_EQ(row[0], FieldValue(name));
    EXPECT_EQ(row[1], FieldValue(name + " \xC2\xA7 list"));
  }
  EXPECT_EQ(Count(SoftwareRowQuery("x")), 0);
  EXPECT_EQ(Count(AllSoftwareRows()), 4);
}

TEST_P(RecordSetTest, AWriteToARowThatIsGoneFails) {
  std::unique_ptr<RecordSet> rows = Open(AllServicesRows());
  ASSERT_TRUE(rows->AddNew(0, FieldValue("PC042")).ok());
  Exec("DELETE FROM Services");
  const Status write = rows->Update(1, FieldValue("Alerter"));
  EXPECT_FALSE(write.ok());
  EXPECT_EQ(write.description(), kRowNotFound);
}

TEST_P(RecordSetTest, LongTextsSurviveWhole) {
  std::string history;
  while (history.size() < 40000) history += "2003/05/29 14:07:09~Zoë changed from nothing To 日本^";
  std::unique_ptr<RecordSet> rows = Open(AllAssetRows());
  ASSERT_TRUE(rows->AddNew(0, FieldValue("PC042")).ok());
  ASSERT_TRUE(rows->Update(92, FieldValue(history)).ok());
  EXPECT_EQ(Row(AssetRowQuery("PC042"))[92], FieldValue(history));
}

INSTANTIATE_TEST_SUITE_P(Engines, RecordSetTest,
                         ::testing::Values(DbEngine::kSqlite, DbEngine::kPostgreSql), EngineName);

}  // namespace
}  // namespace hostlore::test
