// Whole agent runs over the lab into a SQLite file, read back by column
// position: what a first run stores, what a second run records as changes,
// the registry path, user-only runs, a refused target, and a software
// inventory that failed.
#include <gtest/gtest.h>

#include "db/table_layout.h"
#include "db/table_queries.h"
#include "scan/process_end.h"
#include "support/agent_fixture.h"
#include "support/stored_rows.h"

namespace hostlore::test {
namespace {

using Lines = std::vector<std::string>;
const std::string kS = "\xC2\xA7";  // §

std::string Text(const std::vector<FieldValue>& row, int ordinal) {
  if (static_cast<size_t>(ordinal) >= row.size()) return "<no column>";
  const FieldValue& v = row[static_cast<size_t>(ordinal)];
  if (v.is_null()) return "<null>";
  Result<std::string> text = ValueAsText(v);
  return text.ok() ? text.value() : "<unreadable>";
}

std::string Program(const std::string& key, const std::string& name, const std::string& version) {
  return R"(, "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\)" + key +
         R"(": {"DisplayName": ")" + name + R"(", "DisplayVersion": ")" + version +
         R"(", "UninstallString": "x"})";
}

// PC042 with WMI; `memory` in bytes and the uninstall keys are the knobs.
std::string WmiComputer(const std::string& memory, const std::string& programs,
                        const std::string& user = "OFFICE\\\\jsmith") {
  return R"({"names": ["PC042"], "address": "192.0.2.42",
    "registry": {
      "HKLM\\System\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName": {"ComputerName": "PC042"},
      "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion": {"CurrentVersion": "5.1"})" +
         programs + R"(},
    "wmi": {
      "Win32_ComputerSystem": [{"Name": "PC042", "UserName": ")" + user + R"(", "Manufacturer": "Dell Inc.",
                                "Model": "OptiPlex", "Domain": "corp", "TotalPhysicalMemory": ")" +
         memory + R"("}],
      "Win32_Processor": [{"Name": "Pentium 4", "currentclockspeed": 2793}],
      "Win32_LogicalDisk": [{"Caption": "C:", "Size": "40015953920", "freespace": "21474836480",
                             "volumename": "SYSTEM", "FileSystem": "NTFS", "volumeserialnumber": "A4C2"}]
    },
    "services": ["Alerter", "Workstation"]})";
}

class WholeRunTest : public AgentFixture {
 protected:
  std::vector<FieldValue> Asset() { return ReadRow(Db(), AssetRowQuery("PC042")); }
  std::string Stored(const TableQuery& query) { return Text(ReadRow(Db(), query), 1); }
  // Another run against the same database, at next_time_ when set.
  int NextRun(const std::string& fields) {
    state_ = std::make_unique<ScanState>();
    seen_ = progress_.Lines().size();
    return Run(fields, [this](Platform& p) {
      if (next_time_ != 0) static_cast<FixedClock*>(p.clock.get())->Set(next_time_);
    });
  }
  // The progress lines of the latest run.
  Lines LatestProgress() {
    const Lines all = Progress();
    return Lines(all.begin() + static_cast<long>(seen_), all.end());
  }

  std::time_t next_time_ = 0;
  size_t seen_ = 0;
};

TEST_F(WholeRunTest, AFirstRunStoresEveryRowByPosition) {
  lab_.Write("pc042.json", WmiComputer("536330240", Program("a", "Alpha", "1.0")));
  ASSERT_EQ(Run("PC042," + Db() + ",,7"), kExitNormal) << ::testing::PrintToString(Log());
  const auto asset = Asset();
  EXPECT_EQ(Text(asset, 0), "PC042");
  EXPECT_EQ(Text(asset, 1), "Dell Inc.");
  EXPECT_EQ(Text(asset, 9), "Pentium 4");
  EXPECT_EQ(Text(asset, 10), "2793");
  EXPECT_EQ(Text(asset, asset::kTotalPhysicalMemory), "511");
  EXPECT_EQ(Text(asset, asset::kLoggedOnUser), "OFFICE\\jsmith");
  EXPECT_EQ(Text(asset, asset::kIPAddress), "192.0.2.42");
  EXPECT_EQ(Text(asset, asset::DriveSlot('C')), "C:");
  EXPECT_EQ(Text(asset, asset::DriveSlot('C') + 1), "38162");
  EXPECT_EQ(Text(asset, asset::DriveSlot('D')), "<null>");  // no drive D:
  EXPECT_EQ(Text(asset, asset::kHistory), "2003/05/29 14:07:09~New Record Created^");
  EXPECT_EQ(Stored(SoftwareRowQuery("PC042")), "Alpha" + kS + "1.0" + kS + kS + kS + kS);
  EXPECT_EQ(Stored(ServicesRowQuery("PC042")), "Alerter^Workstation");
  EXPECT_EQ(Stored(LastAccessRowQuery("PC042")), "2003/05/29 14:07:09");
  EXPECT_EQ(Stored(DriveHistoryRowQuery("PC042~C")), "^2003/05/29,20480");
  EXPECT_TRUE(Log().empty());
}

TEST_F(WholeRunTest, ASecondRunRecordsTheChangesInOrder) {
  lab_.Write("pc042.json", WmiComputer("536330240", Program("a", "Alpha", "1.0") +
                                                        Program("b", "Beta", "2.0")));
  ASSERT_EQ(Run("PC042," + Db() + ",,7"), kExitNormal);
  lab_.Write("pc042.json", WmiComputer("1073741824", Program("a", "Alpha", "1.1") +
                                                         Program("c", "Gamma", "3.0")));
  ASSERT_EQ(NextRun("PC042," + Db() + ",,7"), kExitNormal) << ::testing::PrintToString(Log());
  const std::string history = Text(Asset(), asset::kHistory);
  const std::string t = "2003/05/29 14:07:09~";
  EXPECT_EQ(history, t + "New Record Created^" + t + "Physical Memory changed from 511 To 1024^" +
                         t + "Alpha Version changed from 1.0 To 1.1^" + t +
                         "Software removed : Beta^" + t + "New Software installed : Gamma^");
  EXPECT_EQ(Text(Asset(), asset::kTotalPhysicalMemory), "1024");
}

TEST_F(WholeRunTest, UserOnlyRunsChangeOnlyTheTimeAndTheUser) {
  lab_.Write("pc042.json", WmiComputer("536330240", Program("a", "Alpha", "1.0")));
  ASSERT_EQ(Run("PC042," + Db() + ",,7"), kExitNormal);
  const auto before = Asset();
  // The WMI user is not read in a user-only run: the registry names the user.
  lab_.Write("pc042.json", WmiComputer("999999999999", R"(,
      "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon":
        {"DefaultDomainName": "OFFICE", "DefaultUserName": "mlee"},
      "HKU\\S-1-5-21-7_Classes": {})", "X\\\\nobody"));
  next_time_ = LocalTime(2003, 5, 30, 9, 0, 0);
  ASSERT_EQ(NextRun("PC042," + Db() + ",-u,7"), kExitNormal);
  EXPECT_EQ(LatestProgress(), (Lines{"PC042,2,,7", "PC042,4,192.0.2.42,7", "PC042,6,192.0.2.42,7",
                               "PC042,100,192.0.2.42,7", "PC042,Complete,192.0.2.42,7"}));
  const auto after = Asset();
  ASSERT_EQ(before.size(), after.size());
  for (size_t i = 0; i < before.size(); ++i) {
    if (i == asset::kLoggedOnUser || i == asset::kLastScanned) continue;
    EXPECT_EQ(Text(before, static_cast<int>(i)), Text(after, static_cast<int>(i))) << "ordinal " << i;
  }
  EXPECT_EQ(Text(after, asset::kLoggedOnUser), "OFFICE\\mlee");
  EXPECT_NE(Text(after, asset::kLastScanned), Text(before, asset::kLastScanned));
}

TEST_F(WholeRunTest, WithoutWmiTheRegistryAndSharesFillTheRow) {
  lab_.Write("nt.json", R"({"names": ["NT4BOX"], "address": "192.0.2.40", "wmi": false,
    "registry": {
      "HKLM\\System\\CurrentControlSet\\Control\\ComputerName\\ActiveComputerName": {"ComputerName": "NT4BOX"},
      "HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion": {"CurrentVersion": "4.0", "CurrentBuildNumber": "1381"},
      "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\o": {"DisplayName": "Office 97", "UninstallString": "x"}},
    "services": ["Alerter"],
    "shares": {"C$": {"total": 10000000000, "free": 2500000000}}})");
  ASSERT_EQ(Run("NT4BOX," + Db() + ",,1"), kExitNormal);
  const Lines log = LogWithoutTime();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("Unable to access WMI,NT4BOX:", 0), 0u);
  const auto asset = ReadRow(Db(), AssetRowQuery("NT4BOX"));
  EXPECT_EQ(Text(asset, 6), "Windows NT");
  EXPECT_EQ(Text(asset, 8), "4.0.1381");
  EXPECT_EQ(Text(asset, asset::DriveSlot('C') + 1), "9537");
  EXPECT_EQ(Text(asset, asset::DriveSlot('C') + 2), "2384");
  const Lines steps = Progress();
  EXPECT_EQ(std::count_if(steps.begin(), steps.end(),
                          [](const std::string& l) { return l.starts_with("NT4BOX,10,"); }),
            0);
}

TEST_F(WholeRunTest, ComputersThatNameThemselvesNowhereGetARowEach) {
  // Neither has a computer name in its registry, nor WMI to tell one: each
  // keeps the name it was reached by, instead of both sharing a row "".
  for (const char* name : {"NAMELESS1", "NAMELESS2"}) {
    lab_.Write(std::string(name) + ".json",
               std::string(R"({"names": [")") + name + R"("], "address": "192.0.2.)" +
                   (name[8] == '1' ? "71" : "72") + R"(", "wmi": false,
      "registry": {"HKLM\\Software\\Microsoft\\Windows NT\\CurrentVersion": {"CurrentVersion": "6.1"}}})");
  }
  ASSERT_EQ(Run("NAMELESS1," + Db() + ",,1"), kExitNormal);
  ASSERT_EQ(NextRun("192.0.2.72," + Db() + ",,1"), kExitNormal);
  EXPECT_EQ(CountRows(Db(), AllAssetRows()), 2);
  EXPECT_EQ(Text(ReadRow(Db(), AssetRowQuery("NAMELESS1")), 6), "6.1");
  EXPECT_EQ(Text(ReadRow(Db(), AssetRowQuery("192.0.2.72")), 6), "6.1");
  const Lines log = LogWithoutTime();
  EXPECT_NE(std::find(log.begin(), log.end(),
                      "Unable to read the computer name,192.0.2.72:the target names itself "
                      "nowhere it can be read; its inventory is kept under the name it was "
                      "reached by"),
            log.end());
}

TEST_F(WholeRunTest, ARefusedTargetLeavesOnlyItsContactRow) {
  lab_.Write("locked.json", R"({"names": ["LOCKED01"], "address": "192.0.2.66", "registry": false})");
  EXPECT_EQ(Run("LOCKED01," + Db() + ",,1"), kExitFailure);
  EXPECT_EQ(Stored(LastAccessRowQuery("LOCKED01")), "2003/05/29 14:07:09");
  EXPECT_EQ(CountRows(Db(), AllAssetRows()), 0);
}

TEST_F(WholeRunTest, AFailedSoftwareInventoryKeepsTheStoredListAndItsHistory) {
  lab_.Write("pc042.json", WmiComputer("536330240", Program("a", "Alpha", "1.0")));
  ASSERT_EQ(Run("PC042," + Db() + ",,7"), kExitNormal);
  // The uninstall key is gone: nothing is read.
  lab_.Write("pc042.json", WmiComputer("536330240", ""));
  ASSERT_EQ(NextRun("PC042," + Db() + ",,7"), kExitNormal);
  EXPECT_EQ(LogWithoutTime(), (Lines{"Unable to access remote registry,PC042:"}));
  EXPECT_EQ(Stored(SoftwareRowQuery("PC042")), "Alpha" + kS + "1.0" + kS + kS + kS + kS);
  EXPECT_EQ(Text(Asset(), asset::kHistory), "2003/05/29 14:07:09~New Record Created^");
}

}  // namespace
}  // namespace hostlore::test
