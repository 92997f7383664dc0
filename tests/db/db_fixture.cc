#include "db/db_fixture.h"

#include "db/connect.h"
#include "db/postgres_server.h"
#include "db/schema_scripts.h"
#include "db/table_layout.h"
#include "db/table_queries.h"
#include "run/command_line.h"
#include "scan/process_end.h"
#include "support/stored_rows.h"

namespace hostlore {

void PrintTo(const FieldValue& value, std::ostream* out) {
  if (value.is_null()) *out << "Null";
  else if (value.is_text()) *out << '"' << value.text() << '"';
  else if (value.is_double()) *out << value.real() << " (double)";
  else *out << value.integer() << " (integer)";
}

}  // namespace hostlore

namespace hostlore::test {

std::string EngineName(const ::testing::TestParamInfo<DbEngine>& info) {
  return info.param == DbEngine::kSqlite ? "SQLite" : "PostgreSQL";
}

std::string NewDatabase(DbEngine engine, const TempFolder& folder) {
  if (engine == DbEngine::kSqlite) return "sqlite:" + (folder.path() / "hostlore.db").string();
  PostgresServer* server = PostgresServer::Shared();
  if (server == nullptr) return {};  // callers skip first
  const std::string field = server->CreateDatabase();
  Result<std::shared_ptr<EngineConnection>> engine_connection = ConnectEngine(field);
  EXPECT_TRUE(engine_connection.ok()) << engine_connection.status().description();
  if (!engine_connection.ok()) return {};
  const Status created =
      engine_connection.value()->RunScript(std::string(SchemaScript(Engine::kPostgreSql)));
  EXPECT_TRUE(created.ok()) << created.description();
  return field;
}

void FillInventory(ScanState& s) {
  s.TargetName = "PC042";
  s.TargetAddress = "192.0.2.42";
  s.LoggedOnUser = "CORP\\alice";
  s.Manufacturer = "Acme";
  s.Model = "Desk 9";
  s.Domain = "CORP";
  s.BootDevice = "\\Device\\HarddiskVolume1";
  s.Description = "Front desk";
  s.OperatingSystem = "Microsoft Windows XP Professional";
  s.ServicePack = "Service Pack 2";
  s.OSVersion = "5.1.2600";
  s.Processors[0] = {"Intel(R) Pentium(R) 4 CPU 2.80GHz", 2793};
  s.Processors[1] = {"Intel(R) Pentium(R) 4 CPU 2.80GHz", 2793};
  s.TotalPhysicalMemory = 512;
  s.FreePhysicalMemory = 200;
  s.FreeSpaceInPagingFiles = 700;
  s.FreeVirtualMemory = 1800;
  s.CountryCode = "44";
  s.WindowsDirectory = "C:\\WINDOWS";
  s.BIOS = "Phoenix";
  s.BIOSVersion = "1.02";
  s.SerialNumber = "SN-1";
  s.OSSerialNumber = "55274-640";
  s.Drive('C') = {"C:", 38154, 1250.5, "SYSTEM", "NTFS", "A1B2C3D4"};
  s.Drive('D') = {"D:", 650, 0, "CDROM", "CDFS", "0000"};
  s.SoftwareList = "Office\xC2\xA7" "11\xC2\xA7" "C:\\Office\xC2\xA7{1}\xC2\xA7\xC2\xA7";
  s.ServicesList = "Alerter^Application Management";
}

void DbFixture::SetUp() {
  if (GetParam() == DbEngine::kPostgreSql && PostgresServer::Shared() == nullptr) {
    GTEST_SKIP() << "PostgreSQL tests skipped: " << PostgresServer::SkipReason();
  }
  server_ = NewDatabase(GetParam(), folder_);
  ASSERT_FALSE(server_.empty());
  NewRun();
}

void DbFixture::NewRun() {
  const std::time_t now = clock_ ? clock_->Now() : LocalTime(2003, 5, 29, 14, 7, 9);
  state_ = std::make_unique<ScanState>();
  auto clock = std::make_unique<FixedClock>(now);
  clock_ = clock.get();
  state_->platform.clock = std::move(clock);
  state_->TempDir = folder_.path().string();
  state_->ProgressWindow = progress_.write_fd();
  state_->SqlServer = server_;
  state_->ConnectionString = BuildConnectionString(server_);
  state_->TargetName = "PC042";
}

bool DbFixture::Ends(const std::function<void(ScanState&)>& stage) {
  try {
    stage(*state_);
  } catch (const ProcessEnd&) {
    return true;
  }
  return false;
}

std::vector<FieldValue> DbFixture::Row(const TableQuery& query) { return ReadRow(server_, query); }

int64_t DbFixture::Count(const TableQuery& query) { return CountRows(server_, query); }

std::string DbFixture::History() {
  const std::vector<FieldValue> row = Row(AssetRowQuery("PC042"));
  if (row.size() <= static_cast<size_t>(asset::kHistory) || !row[asset::kHistory].is_text()) return "<none>";
  return row[asset::kHistory].text();
}

void DbFixture::Exec(const std::string& sql) {
  Result<std::shared_ptr<EngineConnection>> engine = ConnectEngine(server_);
  ASSERT_TRUE(engine.ok()) << engine.status().description();
  const Status done = engine.value()->RunScript(sql);
  ASSERT_TRUE(done.ok()) << done.description();
}

std::vector<std::string> DbFixture::LogWithoutTime() const {
  std::vector<std::string> lines;
  for (const std::string& line : ReadCrLfLines(folder_.path() / "Kelvarn.log")) {
    const size_t comma = line.find(',');
    lines.push_back(comma == std::string::npos ? line : line.substr(comma + 1));
  }
  return lines;
}

}  // namespace hostlore::test
