// Reading the stored texts for the fleet view: history records (with "^"
// inside a stored value), what a record is about, product fields, drive
// days, the dates people type, and which computer a LastAccess name means.
#include <gtest/gtest.h>

#include "db/change_kind.h"
#include "db/drive_history_text.h"
#include "db/history_records.h"
#include "db/last_contact.h"
#include "db/query_time.h"
#include "db/software_list_text.h"

namespace hostlore {
namespace {

TEST(FleetTextTest, HistoryRecordsKeepAStoredCaretInTheirMessage) {
  const std::vector<HistoryRecord> records = ParseHistory(
      "stray^2003/05/29 14:07:09~New Record Created^^2003/05/30 08:00:00~Model changed from A^B To C^");
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0].time, "");
  EXPECT_EQ(records[0].message, "stray");
  EXPECT_EQ(records[1].message, "New Record Created");
  EXPECT_EQ(records[2].time, "2003/05/30 08:00:00");
  EXPECT_EQ(records[2].message, "Model changed from A^B To C");
}

TEST(FleetTextTest, ChangesAreReadByTheirMessage) {
  const auto kind = [](std::string_view message) { return ChangeKindName(ReadChange(message).kind); };
  EXPECT_EQ(kind("New Record Created"), "new");
  EXPECT_EQ(kind("Physical Memory changed from  512 To nothing"), "hardware");
  EXPECT_EQ(ReadChange("Physical Memory changed from 512 To 1024").subject, "Physical Memory");
  EXPECT_EQ(ReadChange("Drive D: System changed from NTFS To FAT32").subject, "Drive D: System");
  EXPECT_EQ(kind("Drive D: System changed from NTFS To FAT32"), "drive");
  EXPECT_EQ(kind("New Software installed : Visio"), "installed");
  EXPECT_EQ(kind("Software removed : Visio"), "removed");
  EXPECT_EQ(ReadChange("Acme Tool Location changed from C:\\A To C:\\B").subject, "Acme Tool");
  EXPECT_EQ(kind("Acme Tool Location changed from C:\\A To C:\\B"), "software");
  EXPECT_EQ(kind("Model changed"), "other");  // a label without "from"
  EXPECT_EQ(ChangeKindFromName("drive"), ChangeKind::kDrive);
  EXPECT_FALSE(ChangeKindFromName("Drive"));
}

TEST(FleetTextTest, EntriesSplitIntoTheirStoredFields) {
  const SoftwareListRows list = ParseSoftwareList(
      "Tool\xC2\xA7" "1\xC2\xA7" "C:\\T\xC2\xA7{P}\xC2\xA7" "Acme\xC2\xA7" "Ann^Old\xC2\xA7" "2\xC2\xA7\xC2\xA7{Q}\xC2\xA7\xC2\xA7^^Hidden");
  ASSERT_EQ(list.rows.size(), 2u);
  EXPECT_FALSE(list.complete);
  const ProductFields installer = SplitProductFields(list.rows[0][3]);
  EXPECT_EQ(installer.product_id, "{P}");
  EXPECT_EQ(installer.company, "Acme");
  EXPECT_EQ(installer.owner, "Ann");
  const ProductFields uninstall = SplitProductFields(list.rows[1][3]);
  EXPECT_EQ(uninstall.product_id, "{Q}");
  EXPECT_EQ(uninstall.company, "");
}

TEST(FleetTextTest, DriveDaysAndQueryTimes) {
  const std::vector<DriveDay> days = ParseDriveHistory("^2003/05/28,1250^2003/05/29,12.5^broken^2003/05/30,x");
  ASSERT_EQ(days.size(), 4u);
  EXPECT_EQ(days[1].free_mb, 12.5);
  EXPECT_EQ(days[2].date, "broken");
  EXPECT_FALSE(days[3].free_mb);

  EXPECT_EQ(ParseQueryTime("2024-02-29"), "2024/02/29 00:00:00");
  EXPECT_EQ(ParseQueryTime("2024/05/01 13:05"), "2024/05/01 13:05:00");
  EXPECT_EQ(ParseQueryTime("2024-05-01T13:05:09"), "2024/05/01 13:05:09");
  for (const char* wrong : {"2023-02-29", "2024-13-01", "2024-05-01 25:00", "2024-05-01x", "24-5-1", "2024-05/01", ""}) {
    EXPECT_FALSE(ParseQueryTime(wrong)) << wrong;
  }
}

TEST(FleetTextTest, LastAccessNamesFindTheirComputer) {
  AccessMatcher matcher;
  matcher.AddComputer(0, "PC042", "192.0.2.42");
  matcher.AddComputer(1, "pc043", "192.0.2.43");
  EXPECT_EQ(matcher.Match("pc042"), 0u);
  EXPECT_EQ(matcher.Match("192.0.2.43"), 1u);
  EXPECT_EQ(matcher.Match("PC043.corp.example"), 1u);
  EXPECT_FALSE(matcher.Match("192.0.2.4"));
  EXPECT_FALSE(matcher.Match("pc04"));
  EXPECT_EQ(OutcomeOf("2003/05/29 14:07:10", "2003/05/29 14:07:09"), ContactOutcome::kInventoried);
  EXPECT_EQ(OutcomeOf("2003/05/29 14:07:10", "2003/06/01 08:00:00"), ContactOutcome::kNotInventoried);
  EXPECT_EQ(OutcomeOf(std::nullopt, std::nullopt), ContactOutcome::kNeverAnswered);
}

}  // namespace
}  // namespace hostlore
