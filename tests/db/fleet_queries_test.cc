// The fleet questions on both engines, over a fleet with new, changed, stale,
// vanished and never inventoried computers, and the index that answers them.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "db/change_list.h"
#include "db/computer_list.h"
#include "db/connect.h"
#include "db/fleet_fixture.h"
#include "db/fleet_index_refresh.h"
#include "db/fleet_summary.h"
#include "db/query_time.h"
#include "db/software_search.h"
#include "db/table_queries.h"

namespace hostlore::test {
namespace {

class FleetQueryTest : public FleetFixture {
 protected:
  std::vector<std::string> Names(const ComputerFilter& filter, QueryPage page = {}) {
    Result<ComputerPage> found = ListComputers(Index(), filter, Stale(), page);
    EXPECT_TRUE(found.ok()) << found.status().description();
    std::vector<std::string> names;
    for (const ComputerRow& row : found->rows) names.push_back(row.name);
    return names;
  }
  ComputerRow Computer(const std::string& name) {
    ComputerFilter filter;
    filter.text = name;
    Result<ComputerPage> found = ListComputers(Index(), filter, Stale(), {});
    EXPECT_TRUE(found.ok() && found->rows.size() == 1) << name;
    return found.ok() && !found->rows.empty() ? found->rows[0] : ComputerRow{};
  }
  std::vector<std::string> Messages(const ChangeFilter& filter) {
    Result<ChangePage> found = ListChanges(Index(), filter, Stale(), {});
    EXPECT_TRUE(found.ok()) << found.status().description();
    std::vector<std::string> messages;
    for (const ChangeRow& row : found->rows) messages.push_back(row.computer + ": " + row.message);
    return messages;
  }
};

TEST_P(FleetQueryTest, IndexReadsChangedComputersAgainAndForgetsVanishedOnes) {
  RefreshReport report = Refresh();  // the first refresh ran in Source()
  EXPECT_EQ(report.computers, 4u);
  EXPECT_EQ(report.read, 0u);

  Scan("NEW01", LocalTime(2003, 6, 10, 8, 0, 0), [](ScanState& s) {
    s.TargetAddress = "192.0.2.51";
    s.SoftwareList = "Microsoft Visio\xC2\xA7" "13\xC2\xA7\xC2\xA7\xC2\xA7\xC2\xA7";
  });
  Exec("DELETE FROM Asset WHERE Computer = 'GONE01';\nDELETE FROM Software WHERE SoftComputer = 'GONE01';\n"
       "DELETE FROM LastAccess WHERE Computer = 'GONE01';");
  report = Refresh();
  EXPECT_EQ(report.read, 1u);
  EXPECT_EQ(report.removed, 1u);

  EXPECT_EQ(Names({}), (std::vector<std::string>{"LOCKED1", "NEW01", "OLD01", "PC042", "SILENT9"}));
  Result<ProgramPage> gone = SearchPrograms(Index(), "gone", {});
  ASSERT_TRUE(gone.ok());
  EXPECT_EQ(gone->total, 0);  // its only program went with it
  EXPECT_TRUE(Messages({std::nullopt, std::nullopt, "GONE01"}).empty());
  Result<ProgramPage> office = SearchPrograms(Index(), "office", {});  // NEW01's went
  ASSERT_TRUE(office.ok());
  EXPECT_EQ(office->programs[0].computers, 2);
  ASSERT_EQ(office->programs[0].versions.size(), 2u);
  EXPECT_EQ(office->programs[0].versions[0].computers, 1);
  Result<InstallationPage> visio = ListInstallations(Index(), {"", "Microsoft Visio", "13"}, Stale(), {});
  ASSERT_TRUE(visio.ok());
  ASSERT_EQ(visio->rows.size(), 1u);
  EXPECT_EQ(visio->rows[0].computer, "NEW01");
  EXPECT_EQ(Messages({std::nullopt, ChangeKind::kRemoved, "new01"}),
            (std::vector<std::string>{"NEW01: Software removed : \xC3\x9C" "bersetzer",
                                      "NEW01: Software removed : Microsoft Office"}));

  // A contact alone is a change too (on PostgreSQL the server's digest
  // must notice it); nothing changed reads nothing and still counts all.
  Exec("UPDATE LastAccess SET AccessTime = '2003/06/10 07:00:00' WHERE Computer = 'SILENT9';");
  report = Refresh();
  EXPECT_EQ(report.read, 0u);
  EXPECT_EQ(Computer("SILENT9").last_contact, "2003/06/10 07:00:00");
  report = Refresh();
  EXPECT_EQ(report.read, 0u);
  EXPECT_EQ(report.computers, 3u);
}

TEST_P(FleetQueryTest, AWholeBuildAnswersAsARefreshComputerByComputer) {
  std::ostringstream notes;
  Result<FleetSource> whole = OpenFleetSource(server_, (folder_.path() / "whole.sqlite").string(), ":memory:", notes);
  ASSERT_TRUE(whole.ok());
  ASSERT_TRUE(RefreshFleetIndex(*whole->index, *whole->reader, Now(), {}, 0).ok());  // every refresh a bulk one
  const auto answers = [&](IndexDb& index) {
    Result<ProgramPage> programs = SearchPrograms(index, "", {});
    Result<ChangePage> changes = ListChanges(index, {std::nullopt, ChangeKind::kInstalled, std::nullopt}, Stale(), {});
    EXPECT_TRUE(programs.ok() && changes.ok());
    std::string text = JsonRowsText(ProgramTable(programs->programs)) + JsonRowsText(ChangeTable(changes->rows));
    for (const ProgramSummary& program : programs->programs) text += program.name + std::to_string(program.computers);
    return text + std::to_string(changes->total);
  };
  EXPECT_EQ(answers(whole->index->db()), answers(Index()));
}

TEST_P(FleetQueryTest, ADamagedOrForeignIndexFileIsBuiltAgain) {
  const std::string path = folder_.Write("other.sqlite", std::string(8192, 'x')).string();  // no database
  ASSERT_TRUE(FleetIndex::Open(path, "sqlite:/elsewhere.db", IndexDb::Mode::kWrite).ok());
  EXPECT_FALSE(FleetIndex::Open(path, server_, IndexDb::Mode::kRead).ok());  // an index of another inventory
  Result<std::unique_ptr<FleetIndex>> index = FleetIndex::Open(path, server_, IndexDb::Mode::kWrite);
  ASSERT_TRUE(index.ok()) << index.status().description();
  Result<RefreshReport> report = RefreshFleetIndex(*index.value(), *Source().reader, Now());
  ASSERT_TRUE(report.ok());
  EXPECT_EQ(report->read, 4u);  // built afresh, nothing of the other inventory kept
  Result<ComputerPage> computers = ListComputers(index.value()->db(), {}, Stale(), {});
  ASSERT_TRUE(computers.ok());
  EXPECT_EQ(computers->total, 6);
}

TEST_P(FleetQueryTest, ComputersCarryTheirLastContactAndStaleness) {
  EXPECT_EQ(Names({}), (std::vector<std::string>{"GONE01", "LOCKED1", "NEW01", "OLD01", "PC042", "SILENT9"}));

  const ComputerRow pc = Computer("pc042");  // found by a part of its name, whatever the case
  EXPECT_EQ(pc.last_contact, "2003/06/09 09:00:00");  // through its LastAccess row under its DNS name
  EXPECT_EQ(pc.first_seen, "2003/05/01 09:00:00");
  EXPECT_EQ(pc.memory_mb, 1024);
  EXPECT_EQ(pc.outcome, ContactOutcome::kInventoried);
  EXPECT_FALSE(pc.stale);
  EXPECT_EQ(Computer("LOCKED1").outcome, ContactOutcome::kNotInventoried);
  const ComputerRow silent = Computer("SILENT9");
  EXPECT_EQ(silent.outcome, ContactOutcome::kNeverAnswered);
  EXPECT_TRUE(silent.stale);
  EXPECT_FALSE(silent.last_contact);

  ComputerFilter filter;
  filter.stale = true;
  EXPECT_EQ(Names(filter), (std::vector<std::string>{"OLD01", "SILENT9"}));
  filter = {};
  filter.first_seen_since = StoredTimeDaysBefore(Now(), 7);
  EXPECT_EQ(Names(filter), (std::vector<std::string>{"NEW01"}));
  filter = {};
  filter.text = "192.0.2.5";
  EXPECT_EQ(Names(filter), (std::vector<std::string>{"NEW01"}));
  filter = {};
  filter.operating_system = "Microsoft Windows 2000 Professional";
  EXPECT_EQ(Names(filter), (std::vector<std::string>{"OLD01"}));
  filter = {};
  filter.sort = ComputerSort::kMemory;
  filter.descending = true;
  EXPECT_EQ(Names(filter).front(), "PC042");
  filter.sort = ComputerSort::kAddress;
  filter.descending = false;
  EXPECT_EQ(Names(filter, {0, 3}), (std::vector<std::string>{"OLD01", "PC042", "NEW01"}));  // .9 < .42 < .51
  EXPECT_EQ(Names(filter, {3, 2}), (std::vector<std::string>{"GONE01", "LOCKED1"}));
}

TEST_P(FleetQueryTest, SoftwareIsFoundByPartOfItsNameDownToTheComputers) {
  Result<ProgramPage> office = SearchPrograms(Index(), "OFFICE", {});
  ASSERT_TRUE(office.ok());
  ASSERT_EQ(office->programs.size(), 1u);
  EXPECT_EQ(office->programs[0].name, "Microsoft Office");
  EXPECT_EQ(office->programs[0].computers, 3);
  ASSERT_EQ(office->programs[0].versions.size(), 2u);
  EXPECT_EQ(office->programs[0].versions[0].version, "11");
  EXPECT_EQ(office->programs[0].versions[0].computers, 2);

  Result<ProgramPage> accented = SearchPrograms(Index(), "\xC3\xBC" "bers", {});  // "übers"
  ASSERT_TRUE(accented.ok());
  EXPECT_EQ(accented->total, 1);
  Result<ProgramPage> removed = SearchPrograms(Index(), "notes", {});
  ASSERT_TRUE(removed.ok());
  EXPECT_EQ(removed->total, 0);

  Result<InstallationPage> eleven = ListInstallations(Index(), {"", "Microsoft Office", "11"}, Stale(), {});
  ASSERT_TRUE(eleven.ok());
  ASSERT_EQ(eleven->rows.size(), 2u);
  EXPECT_EQ(eleven->rows[0].computer, "NEW01");
  EXPECT_FALSE(eleven->rows[0].stale);
  EXPECT_EQ(eleven->rows[1].computer, "OLD01");
  EXPECT_TRUE(eleven->rows[1].stale);
}

TEST_P(FleetQueryTest, ChangesComeNewestFirstByKindAndComputer) {
  EXPECT_EQ(Messages({"2003/06/09 00:00:00", std::nullopt, std::nullopt}),
            (std::vector<std::string>{"PC042: New Software installed : Microsoft Visio",
                                      "PC042: Microsoft Office Version changed from 11 To 12",
                                      "PC042: Software removed : Lotus Notes",
                                      "PC042: Physical Memory changed from 512 To 1024"}));
  Result<ChangePage> memory = ListChanges(Index(), {std::nullopt, ChangeKind::kHardware, std::nullopt}, Stale(), {});
  ASSERT_TRUE(memory.ok());
  ASSERT_EQ(memory->rows.size(), 1u);
  EXPECT_EQ(memory->rows[0].subject, "Physical Memory");
  EXPECT_EQ(memory->rows[0].time, "2003/06/09 09:00:00");
  EXPECT_EQ(Messages({std::nullopt, ChangeKind::kNewRecord, std::nullopt}).size(), 4u);
  EXPECT_EQ(Messages({std::nullopt, std::nullopt, "Pc042"}).size(), 5u);
}

TEST_P(FleetQueryTest, FleetSummaryCountsAndLists) {
  Result<FleetSummary> summary = SummarizeFleet(Index(), Stale(), StoredTimeDaysBefore(Now(), 7), 10);
  ASSERT_TRUE(summary.ok()) << summary.status().description();
  EXPECT_EQ(summary->computers, 6);
  ASSERT_EQ(summary->by_outcome.size(), 3u);
  EXPECT_EQ(summary->by_outcome[0].value, "inventoried");
  EXPECT_EQ(summary->by_outcome[0].computers, 4);
  EXPECT_EQ(summary->stale.total, 2);
  EXPECT_EQ(summary->stale.rows[0].name, "OLD01");  // reached longest ago first, never reached last
  EXPECT_EQ(summary->newcomers.total, 1);
  EXPECT_EQ(summary->newest_changes.front().computer, "PC042");
}

TEST_P(FleetQueryTest, TheInventoryIsOpenedForReadingOnly) {
  Result<std::shared_ptr<EngineConnection>> reader = ConnectEngineReadOnly(server_);
  ASSERT_TRUE(reader.ok()) << reader.status().description();
  EXPECT_FALSE(reader.value()->RunScript("DELETE FROM Asset").ok());
  EXPECT_EQ(Count(AllAssetRows()), 4);
  if (GetParam() == DbEngine::kSqlite) {
    const std::filesystem::path missing = folder_.path() / "missing.db";
    EXPECT_FALSE(ConnectEngineReadOnly("sqlite:" + missing.string()).ok());
    EXPECT_FALSE(std::filesystem::exists(missing));
  }
}

INSTANTIATE_TEST_SUITE_P(Engines, FleetQueryTest,
                         ::testing::Values(DbEngine::kSqlite, DbEngine::kPostgreSql), EngineName);

}  // namespace
}  // namespace hostlore::test
