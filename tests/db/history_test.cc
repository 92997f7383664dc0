// Change records of the asset comparison, software records and the drive
// history, on both engines.
#include <gtest/gtest.h>

#include "db/compare_software_lists.h"
#include "db/db_fixture.h"
#include "db/drive_history.h"
#include "db/table_queries.h"
#include "db/update_db.h"

namespace hostlore::test {
namespace {

constexpr char kStamp[] = "2003/05/30 14:07:09~";

class HistoryTest : public DbFixture {
 protected:
  void SetUp() override {
    DbFixture::SetUp();
    FillInventory(*state_);
    ASSERT_FALSE(Ends(UpdateDB));
    NewRun();
    FillInventory(*state_);
    clock_->Set(clock_->Now() + 86400);
  }
  // The records that the second run added, without time stamps.
  std::vector<std::string> Records() {
    std::vector<std::string> records;
    std::string text = History();
    const std::string first = "2003/05/29 14:07:09~New Record Created^";
    if (text.starts_with(first)) text = text.substr(first.size());
    for (size_t end; (end = text.find('^')) != std::string::npos; text = text.substr(end + 1)) {
      const std::string record = text.substr(0, end);
      records.push_back(record.starts_with(kStamp) ? record.substr(20) : "<" + record + ">");
    }
    return records;
  }
  void Run() { ASSERT_FALSE(Ends(UpdateDB)); }
};

TEST_P(HistoryTest, TextFormsAndBlanksAndCaseCount) {
  Exec("UPDATE Asset SET Model = '', Domain = NULL");
  state_->Manufacturer = "acme";
  state_->Model = "Desk 9";
  state_->Domain = "OTHER";
  state_->Description = "";
  Run();
  EXPECT_EQ(Records(), (std::vector<std::string>{"Manufacturer changed from Acme To acme",
                                                 "Model changed from nothing To Desk 9",
                                                 "Description changed from Front desk To nothing"}));
}

TEST_P(HistoryTest, NumbersShowTheSignPositionOnlyWhenGone) {
  // Only SQLite can hold an empty text in a numeric column.
  const bool sqlite = GetParam() == DbEngine::kSqlite;
  Exec(sqlite ? "UPDATE Asset SET DriveCSize = '', Processor2Speed = NULL"
              : "UPDATE Asset SET DriveCSize = NULL, Processor2Speed = NULL");
  state_->TotalPhysicalMemory = 0;  // passes the plausibility test only when stored is 0
  Exec("UPDATE Asset SET TotalPhysicalMemory = -5");
  state_->Drive('C').Size = 40000;
  state_->Processors[1].Speed = 100;
  Run();
  std::vector<std::string> expected = {"Physical Memory changed from -5 To nothing"};
  if (sqlite) expected.push_back("Drive C: Size changed from nothing To 40000");
  EXPECT_EQ(Records(), expected);
}

TEST_P(HistoryTest, DriveGoneShowsTwoBlanksBeforeTheSize) {
  Exec("UPDATE Asset SET DriveDFileSystem = 'NTFS', DriveDSize = 40000");
  state_->Drive('D') = {"D:", 0, 0, "", "", ""};
  Run();
  EXPECT_EQ(Records(), (std::vector<std::string>{"Drive D: Size changed from  40000 To nothing",
                                                 "Drive D: System changed from NTFS To nothing"}));
}

TEST_P(HistoryTest, SpeedBandIsInclusiveAtOneHundred) {
  Exec("UPDATE Asset SET Processor1Speed = 2000, Processor2Speed = 2000, Processor3Speed = 2000, "
       "Processor4Speed = 2000");
  state_->Processors[0].Speed = 2099;
  state_->Processors[1].Speed = 1901;
  state_->Processors[2] = {"", 2100};
  state_->Processors[3] = {"", 1900};
  Exec("UPDATE Asset SET Processor3 = '', Processor4 = ''");
  Run();
  EXPECT_EQ(Records(), (std::vector<std::string>{"Processor 3 speed changed from 2000 To 2100",
                                                 "Processor 4 speed changed from 2000 To 1900"}));
}

TEST_P(HistoryTest, CdDrivesAreNeverCompared) {
  Exec("UPDATE Asset SET DriveDFileSystem = 'NTFS', DriveDSize = 100, DriveECaption = 'E:', "
       "DriveESize = 5, DriveEFileSystem = 'CDFS'");
  state_->Drive('D') = {"D:", 650, 0, "CD", "CDFS", ""};
  state_->Drive('E') = {"E:", 9000, 0, "DATA", "NTFS", ""};
  Run();
  EXPECT_TRUE(Records().empty());
}

TEST_P(HistoryTest, EmptyStoredRowRecordsNothing) {
  Exec("UPDATE Asset SET Manufacturer = NULL, Model = '', Domain = NULL, BootDevice = NULL, "
       "Description = NULL, OperatingSystem = NULL, ServicePack = NULL, OSVersion = NULL, "
       "Processor1 = NULL, Processor1Speed = NULL, Processor2 = NULL, Processor2Speed = NULL, "
       "Processor3 = NULL, Processor3Speed = NULL, Processor4 = NULL, Processor4Speed = NULL, "
       "TotalPhysicalMemory = NULL, FreePhysicalMemory = NULL, FreeSpaceInPagingFiles = NULL, "
       "FreeVirtualMemory = NULL, BIOS = 'Old'");
  state_->BIOS = "New";
  Run();
  EXPECT_TRUE(Records().empty());
  EXPECT_EQ(Row(AssetRowQuery("PC042"))[23], FieldValue("New"));
}

TEST_P(HistoryTest, TrimDropsWholeOldestRecordsToThreeThousand) {
  std::string old;
  while (old.size() < 2990) old += "2003/01/01 00:00:00~Old record number one two three^";
  old.resize(2990 - 50);
  old += std::string(49, 'x') + "^";  // 2990 characters, the last record ends here
  Exec("UPDATE Asset SET History = '" + old + "'");
  state_->Model = "Desk 10";  // record of 20 + 34 characters
  Run();
  const std::string history = History();
  EXPECT_LE(history.size(), 3000u);
  EXPECT_TRUE(history.ends_with("~Model changed from Desk 9 To Desk 10^"));
  EXPECT_EQ(history.find("Old record"), history.find("2003/01/01 00:00:00~Old record") + 20);

  // A single record longer than the limit leaves an empty history. (SQLite
  // does not enforce declared lengths; PostgreSQL must be given room.)
  if (GetParam() == DbEngine::kPostgreSql) Exec("ALTER TABLE Asset ALTER COLUMN Model TYPE varchar(4000)");
  NewRun();
  FillInventory(*state_);
  state_->Model = std::string(3100, 'M');
  Run();
  EXPECT_EQ(History(), "");
}

TEST_P(HistoryTest, SoftwareRecordsInBothPasses) {
  Exec("UPDATE Software SET SoftwareText = '"
       "Beta\xC2\xA7" "1.0\xC2\xA7" "C:\\B\xC2\xA7{B}\xC2\xA7\xC2\xA7^"
       "Alpha\xC2\xA7" "1.0\xC2\xA7" "C:\\A\xC2\xA7{A}\xC2\xA7\xC2\xA7^"
       "gone\xC2\xA7\xC2\xA7\xC2\xA7'");
  state_->SoftwareList =
      "Alpha\xC2\xA7" "2.0\xC2\xA7" "D:\\A\xC2\xA7{A}\xC2\xA7\xC2\xA7^"
      "Beta\xC2\xA7\xC2\xA7" "C:\\B\xC2\xA7{B}\xC2\xA7\xC2\xA7^"
      "GONE\xC2\xA7\xC2\xA7\xC2\xA7^Zed";
  Run();
  EXPECT_EQ(Records(), (std::vector<std::string>{
                           "Alpha Version changed from 1.0 To 2.0",
                           "Alpha Location changed from C:\\A To D:\\A",
                           "Beta Version changed from 1.0 To ",
                           "Software removed : gone",
                           "New Software installed : GONE",
                           "New Software installed : Zed"}));
}

TEST_P(HistoryTest, SoftwareListParsingStopsAtAnEmptyEntry) {
  ListView view;
  FillSoftwareRows(*state_, view, "b\xC2\xA7" "1^a\xC2\xA7" "2^^c^d");
  ASSERT_EQ(view.Rows.size(), 2u);
  EXPECT_EQ(view.Rows[0][0], "b");  // stopped early: list order, no sort
  FillSoftwareRows(*state_, view, "b\xC2\xA7" "1^a^\xC2\xA7nameless^c^z");
  ASSERT_EQ(view.Rows.size(), 3u);  // the last "z" is a one-character remainder
  EXPECT_EQ(view.Rows[0][0], "a");
  EXPECT_EQ(view.Rows[2][0], "c");
  FillSoftwareRows(*state_, view, "p\xC2\xA7v\xC2\xA7l\xC2\xA7id\xC2\xA7" "co\xC2\xA7own");
  EXPECT_EQ(view.Rows[0][3], "id\xC2\xA7" "co\xC2\xA7own");
  EXPECT_TRUE(state_->SoftwareListRest.empty());
}

TEST_P(HistoryTest, EmptyNewSoftwareListRemovesEverything) {
  state_->SoftwareList = "";
  Run();
  EXPECT_EQ(Records(), std::vector<std::string>{"Software removed : Office"});
}

TEST_P(HistoryTest, DriveHistoryOneRecordPerDay) {
  state_->Drive('C').FreeSpace = 1198;
  Run();
  NewRun();
  FillInventory(*state_);
  state_->Drive('C').FreeSpace = 1000;
  Run();  // the same day again: unchanged
  EXPECT_EQ(Row(DriveHistoryRowQuery("PC042~C"))[1], FieldValue("^2003/05/29,1250.5^2003/05/30,1198"));
}

TEST_P(HistoryTest, DriveHistoryKeepsBelowTheDeclaredLength) {
  Exec("DROP TABLE DriveHistory;\n"
       "CREATE TABLE DriveHistory (DiskComputer varchar(255), DriveHistoryText varchar(50), "
       "DiskOwner varchar(255))");
  Exec("INSERT INTO DriveHistory VALUES ('PC042~C', '^2003/05/01,1^2003/05/02,22^2003/05/03,333', NULL)");
  ASSERT_FALSE(Ends([](ScanState& s) { ASSERT_TRUE(UpdateDriveHistory(s, "C:", 1198).ok()); }));
  // 44 characters + 16 would reach 50: the oldest record goes.
  EXPECT_EQ(Row(DriveHistoryRowQuery("PC042~C"))[1],
            FieldValue("^2003/05/02,22^2003/05/03,333^2003/05/30,1198"));
  EXPECT_EQ(Row(DriveHistoryRowQuery("PC042~C"))[2], FieldValue("PC042"));

  // One stored record that cannot stay next to the new one: only the new one.
  Exec("UPDATE DriveHistory SET DriveHistoryText = '^2003/05/01," + std::string(30, '9') + "'");
  clock_->Set(clock_->Now() + 86400);
  ASSERT_TRUE(UpdateDriveHistory(*state_, "C:", 7).ok());
  EXPECT_EQ(Row(DriveHistoryRowQuery("PC042~C"))[1], FieldValue("^2003/05/31,7"));

  // A drive with no free space changes nothing.
  ASSERT_TRUE(UpdateDriveHistory(*state_, "E:", 0).ok());
  EXPECT_EQ(Count(DriveHistoryRowQuery("PC042~E")), 0);
}

INSTANTIATE_TEST_SUITE_P(Engines, HistoryTest,
                         ::testing::Values(DbEngine::kSqlite, DbEngine::kPostgreSql), EngineName);

}  // namespace
}  // namespace hostlore::test
