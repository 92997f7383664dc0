// The update run on both engines: rows by ordinal after a first and a
// second run, pins, user-only runs, the plausibility stop, missing rows.
#include <gtest/gtest.h>

#include "db/db_fixture.h"
#include "db/table_layout.h"
#include "db/table_queries.h"
#include "db/update_db.h"

namespace hostlore::test {
namespace {

constexpr char kStamp[] = "2003/05/29 14:07:09";

class UpdateDbTest : public DbFixture {
 protected:
  void FirstRun() {
    FillInventory(*state_);
    ASSERT_FALSE(Ends(UpdateDB));
    NewRun();
    FillInventory(*state_);
  }
};

TEST_P(UpdateDbTest, FirstRunStoresEveryColumnByPosition) {
  FillInventory(*state_);
  ASSERT_FALSE(Ends(UpdateDB));
  const std::vector<FieldValue> row = Row(AssetRowQuery("PC042"));
  ASSERT_EQ(row.size(), 95u);  // 94 columns and Expr1
  EXPECT_EQ(row[0], FieldValue("PC042"));
  EXPECT_EQ(row[1], FieldValue("Acme"));
  EXPECT_EQ(row[6], FieldValue("Microsoft Windows XP Professional"));
  EXPECT_EQ(row[9], FieldValue("Intel(R) Pentium(R) 4 CPU 2.80GHz"));
  EXPECT_EQ(row[10], FieldValue(2793.0));
  EXPECT_EQ(row[13], FieldValue(""));   // no third processor: empty text,
  EXPECT_EQ(row[14], FieldValue(0.0));  // and speed 0
  EXPECT_EQ(row[17], FieldValue(int64_t{512}));
  EXPECT_EQ(row[20], FieldValue(int64_t{1800}));
  EXPECT_EQ(row[25], FieldValue("SN-1"));
  EXPECT_EQ(row[26], FieldValue(kStamp));
  EXPECT_EQ(row[27], FieldValue("CORP\\alice"));
  EXPECT_TRUE(row[28].is_null());
  EXPECT_EQ(row[30], FieldValue("192.0.2.42"));
  EXPECT_EQ(row[43], FieldValue("C:"));
  EXPECT_EQ(row[44], FieldValue(38154.0));
  EXPECT_EQ(row[45], FieldValue(1250.5));
  EXPECT_EQ(row[47], FieldValue("NTFS"));
  EXPECT_EQ(row[48], FieldValue("A1B2C3D4"));
  EXPECT_EQ(row[53], FieldValue("CDFS"));
  for (const char absent : {'A', 'B', 'E', 'J'}) {
    for (int offset = 0; offset < 6; ++offset) {
      EXPECT_TRUE(row[asset::DriveSlot(absent) + offset].is_null()) << absent << offset;
    }
  }
  EXPECT_EQ(row[92], FieldValue(std::string(kStamp) + "~New Record Created^"));
  EXPECT_EQ(row[93], FieldValue("55274-640"));

  EXPECT_EQ(Row(SoftwareRowQuery("PC042"))[1], FieldValue(state_->SoftwareList));
  EXPECT_EQ(Row(ServicesRowQuery("PC042"))[1], FieldValue("Alerter^Application Management"));
  EXPECT_EQ(Row(DriveHistoryRowQuery("PC042~C"))[1], FieldValue("^2003/05/29,1250.5"));
  EXPECT_EQ(Count(DriveHistoryRowQuery("PC042~D")), 0);  // no free space: no history
  EXPECT_TRUE(LogWithoutTime().empty());
  EXPECT_TRUE(Progress().empty());
}

TEST_P(UpdateDbTest, SecondRunRecordsChangesAndOverwrites) {
  FirstRun();
  clock_->Set(clock_->Now() + 86400);
  state_->Manufacturer = "Acme ";
  state_->Processors[0].Speed = 2893;  // a change of exactly 100 MHz counts
  state_->Processors[1].Speed = 2850;  // less does not
  state_->TotalPhysicalMemory = 1024;
  state_->Drive('D') = {};
  state_->SoftwareList = "Office\xC2\xA7" "12\xC2\xA7" "C:\\Office\xC2\xA7{1}\xC2\xA7\xC2\xA7";
  ASSERT_FALSE(Ends(UpdateDB));

  EXPECT_EQ(History(),
            "2003/05/29 14:07:09~New Record Created^"
            "2003/05/30 14:07:09~Manufacturer changed from Acme To Acme ^"
            "2003/05/30 14:07:09~Processor 1 speed changed from 2793 To 2893^"
            "2003/05/30 14:07:09~Physical Memory changed from 512 To 1024^"
            "2003/05/30 14:07:09~Office Version changed from 11 To 12^");
  const std::vector<FieldValue> row = Row(AssetRowQuery("PC042"));
  EXPECT_EQ(row[1], FieldValue("Acme "));
  EXPECT_EQ(row[10], FieldValue(2893.0));
  EXPECT_EQ(row[12], FieldValue(2850.0));
  EXPECT_EQ(row[26], FieldValue("2003/05/30 14:07:09"));
  EXPECT_TRUE(row[asset::DriveSlot('D')].is_null());
  EXPECT_EQ(Row(DriveHistoryRowQuery("PC042~C"))[1], FieldValue("^2003/05/29,1250.5^2003/05/30,1250.5"));
  EXPECT_EQ(Count(AssetRowQuery("PC042")), 1);
  EXPECT_EQ(Count(SoftwareRowQuery("PC042")), 1);
}

TEST_P(UpdateDbTest, PinnedColumnsKeepTheirValuesAndAreNotCompared) {
  FirstRun();
  Exec("UPDATE Asset SET Manufacturer = '^Our own', DriveCCaption = '^C: pinned'");
  state_->Manufacturer = "Other";
  state_->Model = "Desk 10";
  state_->Drive('C').Size = 50000;
  state_->Drive('C').FreeSpace = 999;
  clock_->Set(clock_->Now() + 86400);
  ASSERT_FALSE(Ends(UpdateDB));
  const std::vector<FieldValue> row = Row(AssetRowQuery("PC042"));
  EXPECT_EQ(row[1], FieldValue("^Our own"));
  EXPECT_EQ(row[2], FieldValue("Desk 10"));
  EXPECT_EQ(row[43], FieldValue("^C: pinned"));
  EXPECT_EQ(row[44], FieldValue(38154.0));
  // The size change is still recorded (numbers are never pinned), and the
  // pinned drive's history still grows.
  EXPECT_NE(History().find("Drive C: Size changed from 38154 To 50000^"), std::string::npos);
  EXPECT_EQ(History().find("Manufacturer"), std::string::npos);
  EXPECT_EQ(Row(DriveHistoryRowQuery("PC042~C"))[1], FieldValue("^2003/05/29,1250.5^2003/05/30,999"));
}

TEST_P(UpdateDbTest, UserOnlyRunWritesTimeAndUserAlone) {
  FirstRun();
  state_->UserOnly = true;
  state_->LoggedOnUser = "CORP\\bob";
  state_->Manufacturer = "Other";
  state_->TotalPhysicalMemory = 0;  // not even the plausibility test runs
  clock_->Set(clock_->Now() + 60);
  ASSERT_FALSE(Ends(UpdateDB));
  const std::vector<FieldValue> row = Row(AssetRowQuery("PC042"));
  EXPECT_EQ(row[1], FieldValue("Acme"));
  EXPECT_EQ(row[26], FieldValue("2003/05/29 14:08:09"));
  EXPECT_EQ(row[27], FieldValue("CORP\\bob"));
  EXPECT_EQ(History(), "2003/05/29 14:07:09~New Record Created^");
}

TEST_P(UpdateDbTest, MemoryLostSinceTheLastRunStopsTheRunUnwritten) {
  FirstRun();
  state_->TotalPhysicalMemory = 0;
  state_->Manufacturer = "Other";
  EXPECT_TRUE(Ends(UpdateDB));
  EXPECT_EQ(LogWithoutTime(), std::vector<std::string>{"Problems with WMI,PC042:WMI details false"});
  EXPECT_EQ(Progress(), std::vector<std::string>{"PC042,Complete,192.0.2.42,0"});
  EXPECT_EQ(Row(AssetRowQuery("PC042"))[1], FieldValue("Acme"));
  EXPECT_TRUE(state_->FailureReported);
}

TEST_P(UpdateDbTest, MissingSoftwareRowIsAddedWithoutANewRecord) {
  FirstRun();
  Exec("DELETE FROM Software");
  ASSERT_FALSE(Ends(UpdateDB));
  EXPECT_EQ(Count(SoftwareRowQuery("PC042")), 1);
  EXPECT_EQ(Row(SoftwareRowQuery("PC042"))[1], FieldValue(state_->SoftwareList));
  EXPECT_EQ(History(), "2003/05/29 14:07:09~New Record Created^");
}

TEST_P(UpdateDbTest, MissingAssetRowDuplicatesTheOthersAndUsesTheFirst) {
  FirstRun();
  Exec("DELETE FROM Asset");
  state_->ServicesList = "Alerter";
  ASSERT_FALSE(Ends(UpdateDB));
  EXPECT_EQ(Count(AssetRowQuery("PC042")), 1);
  EXPECT_EQ(Count(SoftwareRowQuery("PC042")), 2);
  EXPECT_EQ(Count(ServicesRowQuery("PC042")), 2);
  EXPECT_EQ(Row(ServicesRowQuery("PC042"))[1], FieldValue("Alerter"));
}

TEST_P(UpdateDbTest, NameWithAQuoteAndOtherLetters) {
  FillInventory(*state_);
  state_->TargetName = "Zoë's-PC";
  ASSERT_FALSE(Ends(UpdateDB));
  EXPECT_EQ(Row(AssetRowQuery("Zoë's-PC"))[0], FieldValue("Zoë's-PC"));
  EXPECT_EQ(Row(DriveHistoryRowQuery("Zoë's-PC~C"))[2], FieldValue("Zoë's-PC"));
  EXPECT_TRUE(LogWithoutTime().empty());
}

INSTANTIATE_TEST_SUITE_P(Engines, UpdateDbTest,
                         ::testing::Values(DbEngine::kSqlite, DbEngine::kPostgreSql), EngineName);

}  // namespace
}  // namespace hostlore::test
