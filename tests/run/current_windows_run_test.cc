// Whole agent runs on the lab's computers of today (Windows 10 and 11 with
// WinRM closed and RemoteRegistry disabled, Server 2022 with WinRM open and
// RemoteRegistry on a trigger), read back by column position; a computer
// that alternates between WMI and the registry path; and the RemoteRegistry
// service put back after a failure path and after SIGTERM.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "db/table_queries.h"
#include "scan/process_end.h"
#include "support/agent_fixture.h"
#include "support/stored_rows.h"

namespace hostlore::test {
namespace {

using Lines = std::vector<std::string>;
using Json = nlohmann::ordered_json;

std::string LabFile(const std::string& name) {
  std::ifstream in(std::string(HOSTLORE_SOURCE_DIR) + "/lab/" + name);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string Text(const std::vector<FieldValue>& row, int ordinal) {
  if (static_cast<size_t>(ordinal) >= row.size()) return "<no column>";
  const FieldValue& v = row[static_cast<size_t>(ordinal)];
  if (v.is_null()) return "<null>";
  Result<std::string> text = ValueAsText(v);
  return text.ok() ? text.value() : "<unreadable>";
}

class CurrentWindowsRunTest : public AgentFixture {
 protected:
  std::string Journal() const { return (temp_.path() / "journal").string(); }
  Lines JournalLines() const {
    Lines lines;
    std::ifstream in(Journal());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  int RunTarget(const std::string& name) {
    ScopedEnv journal("HOSTLORE_LAB_JOURNAL", Journal());
    state_ = std::make_unique<ScanState>();
    return Run(name + "," + Db() + ",,0");
  }
  std::vector<FieldValue> Asset(const std::string& name) {
    return ReadRow(Db(), AssetRowQuery(name));
  }
};

TEST_F(CurrentWindowsRunTest, TodaysComputersStoreAWholeInventory) {
  struct Expected {
    std::string file, name;
    std::vector<std::pair<int, std::string>> columns;
    size_t programs;
    Lines journal;
  };
  const Lines disabled_and_back = {"{} RemoteRegistry start-type=demand",
                                   "{} RemoteRegistry started", "{} RemoteRegistry stopped",
                                   "{} RemoteRegistry start-type=disabled"};
  const Expected computers[] = {
      {"desk0417.json",
       "DESK-0417",
       {{1, "Dell Inc."},
        {2, "OptiPlex 7090"},
        {3, "corp.example"},
        {6, "Microsoft Windows 10 Pro"},
        {8, "10.0.19045"},
        {9, "Intel(R) Core(TM) i7-10700 CPU @ 2.90GHz"},
        {10, "2904"},
        {11, ""},
        {17, "0"},
        {22, "C:\\WINDOWS"},
        {23, "Dell Inc."},
        {24, "1.23.0"},
        {25, "7XK9Q53"},
        {43, "C:"},
        {44, "487424"},
        {93, "00330-80000-00000-AA381"}},
       10,
       disabled_and_back},
      {"lap1102.json",
       "LAP-1102",
       {{1, "LENOVO"},
        {2, "21AH00BEGE"},
        {6, "Microsoft Windows 11 Enterprise"},
        {8, "10.0.22631"},
        {9, "12th Gen Intel(R) Core(TM) i7-1260P"},
        {24, "R1XET54W (1.36 )"},
        {25, "PF3XK2LM"}},
       5,
       disabled_and_back},
      {"srvfile01.json",
       "SRV-FILE01",
       {{1, "VMware, Inc."},
        {2, "VMware7,1"},
        {4, "\\Device\\HarddiskVolume1"},
        {6, "Microsoft Windows Server 2022 Standard"},
        {8, "10.0.20348"},
        {11, "Intel(R) Xeon(R) Gold 6248R CPU @ 3.00GHz"},
        {17, "16383"},
        {24, "VMW71.00V.21100432.B64.2301110304"},
        {55, "E:"}},
       3,
       {"{} RemoteRegistry started", "{} RemoteRegistry stopped"}},
  };
  for (const Expected& c : computers) {
    lab_.Write(c.file, LabFile(c.file));
    std::filesystem::remove(Journal());
    EXPECT_EQ(RunTarget(c.name), kExitNormal)
        << c.name << ::testing::PrintToString(LogWithoutTime());
    const std::vector<FieldValue> asset = Asset(c.name);
    ASSERT_FALSE(asset.empty()) << c.name;
    for (const auto& [ordinal, value] : c.columns) {
      EXPECT_EQ(Text(asset, ordinal), value) << c.name << " ordinal " << ordinal;
    }
    // 64-bit, 32-bit and per-user programs alike; updates without an
    // uninstall command are left out.
    const std::string software = Text(ReadRow(Db(), SoftwareRowQuery(c.name)), 1);
    EXPECT_EQ(static_cast<size_t>(std::count(software.begin(), software.end(), '^')) + 1,
              c.programs)
        << software;
    Lines journal;
    for (std::string line : c.journal) journal.push_back(line.replace(0, 2, c.name));
    EXPECT_EQ(JournalLines(), journal) << c.name;
  }
}

// The registry path reads fewer fields than WMI: the ones it cannot read
// keep what WMI stored, so nothing is recorded as changed, nothing is
// cleared, and the plausibility stop (memory before, none now) does not
// apply.
TEST_F(CurrentWindowsRunTest, AlternatingWmiAndTheRegistryRecordsNoFalseChange) {
  Json with_wmi = Json::parse(LabFile("srvfile01.json"));
  Json without_wmi = with_wmi;
  without_wmi["wmi"] = false;
  std::vector<FieldValue> first;
  for (const Json* computer : {&with_wmi, &without_wmi, &with_wmi}) {
    lab_.Write("srvfile01.json", computer->dump());
    EXPECT_EQ(RunTarget("SRV-FILE01"), kExitNormal) << ::testing::PrintToString(LogWithoutTime());
    std::vector<FieldValue> asset = Asset("SRV-FILE01");
    ASSERT_GE(asset.size(), 94u);
    asset.resize(94);
    asset[26] = FieldValue::Null();  // the time of the run
    if (first.empty()) first = asset;
    for (int ordinal = 0; ordinal < 94; ++ordinal) {
      EXPECT_EQ(Text(asset, ordinal), Text(first, ordinal)) << "ordinal " << ordinal;
    }
  }
  for (const std::string& line : LogWithoutTime()) {
    EXPECT_EQ(line.find("Problems with WMI"), std::string::npos) << line;
  }
}

TEST_F(CurrentWindowsRunTest, TheServiceIsPutBackAfterAFailurePath) {
  Json desk = Json::parse(LabFile("desk0417.json"));
  desk["wmi"] = Json::parse(R"({"Win32_BIOS": {"error": "Object not set", "number": 91}})");
  lab_.Write("desk0417.json", desk.dump());
  EXPECT_EQ(RunTarget("DESK-0417"), kExitFailure);
  EXPECT_EQ(LogWithoutTime().front().substr(0, 35), "Error getting WMI BIOS information,");
  EXPECT_EQ(JournalLines().back(), "DESK-0417 RemoteRegistry start-type=disabled");
  EXPECT_EQ(JournalLines().size(), 4u);
}

// SIGTERM while the agent waits on a slow target: the run ends within the
// fleet runner's grace, the service put back by the thread that handles it.
TEST_F(CurrentWindowsRunTest, SigtermPutsTheServiceBackAndEndsTheRun) {
  Json desk = Json::parse(LabFile("desk0417.json"));
  desk["latency_ms"] = 100;
  lab_.Write("desk0417.json", desk.dump());
  using Clock = std::chrono::steady_clock;
  Clock::time_point signalled{};
  const AgentProcessResult run =
      RunAgentProcess("1,DESK-0417," + Db() + ",,0", temp_.path(),
                      {{"HOSTLORE_LAB", lab_.path().string()}, {"HOSTLORE_LAB_JOURNAL", Journal()}},
                      [&](pid_t agent) {
                        // Once the service runs, the run is reading software, call by call.
                        for (int i = 0; i < 600 && JournalLines().size() < 2; ++i) {
                          std::this_thread::sleep_for(std::chrono::milliseconds(50));
                        }
                        std::this_thread::sleep_for(std::chrono::milliseconds(300));
                        signalled = Clock::now();
                        ::kill(agent, SIGTERM);
                      });
  const auto ending =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - signalled);
  EXPECT_EQ(run.exit_status, kExitFailure) << run.stderr_text;
  EXPECT_LT(ending.count(), 5000) << "the agent should not run on after SIGTERM";
  EXPECT_EQ(
      JournalLines(),
      (Lines{"DESK-0417 RemoteRegistry start-type=demand", "DESK-0417 RemoteRegistry started",
             "DESK-0417 RemoteRegistry stopped", "DESK-0417 RemoteRegistry start-type=disabled"}));
  ASSERT_FALSE(run.log.empty());
  EXPECT_EQ(run.log.back().substr(20), "Hostlore.Scan,DESK-0417:ended by signal 15 (SIGTERM)");
  ASSERT_FALSE(run.progress.empty());
  EXPECT_EQ(run.progress.back(), "DESK-0417,Complete,192.0.2.110,0");
}

}  // namespace
}  // namespace hostlore::test
