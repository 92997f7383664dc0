#include "db/fleet_fixture.h"

#include <sstream>

#include "db/fleet_index_refresh.h"
#include "db/query_time.h"
#include "db/update_db.h"
#include "db/update_last_access.h"

namespace hostlore::test {
namespace {

constexpr char kSection[] = "\xC2\xA7";

std::string Entry(const std::string& name, const std::string& version) {
  return name + kSection + version + kSection + "C:\\Apps" + kSection + "{" + name + "}" + kSection + kSection;
}

}  // namespace

std::time_t FleetFixture::Now() { return LocalTime(2003, 6, 10, 12, 0, 0); }
StaleRule FleetFixture::Stale() { return {StoredTimeDaysBefore(Now(), 30)}; }

void FleetFixture::SetUp() {
  DbFixture::SetUp();
  if (IsSkipped()) return;
  const std::string office = Entry("Microsoft Office", "11");
  Scan("PC042", LocalTime(2003, 5, 1, 9, 0, 0), [&](ScanState& s) {
    s.SoftwareList = Entry("Lotus Notes", "6.5") + "^" + office;
  });
  Scan("PC042", LocalTime(2003, 6, 9, 9, 0, 0), [&](ScanState& s) {
    s.TotalPhysicalMemory = 1024;
    s.SoftwareList = Entry("Microsoft Office", "12") + "^" + Entry("Microsoft Visio", "12");
  });
  Scan("NEW01", LocalTime(2003, 6, 8, 10, 0, 0), [&](ScanState& s) {
    s.TargetAddress = "192.0.2.51";
    s.SoftwareList = office + "^" + Entry("\xC3\x9C" "bersetzer", "2");  // "Übersetzer"
  });
  Scan("OLD01", LocalTime(2003, 4, 1, 10, 0, 0), [&](ScanState& s) {
    s.TargetAddress = "192.0.2.9";
    s.OperatingSystem = "Microsoft Windows 2000 Professional";
    s.SoftwareList = office;
  });
  Scan("GONE01", LocalTime(2003, 6, 1, 10, 0, 0), [&](ScanState& s) {
    s.TargetAddress = "192.0.2.77";
    s.SoftwareList = Entry("Gone Tool", "1");
  });
  NewRun();
  clock_->Set(LocalTime(2003, 6, 9, 8, 0, 0));
  state_->TargetName = "LOCKED1";
  state_->PingOk = true;
  ASSERT_FALSE(Ends(UpdateLastAccess));
  NewRun();
  state_->TargetName = "SILENT9";
  state_->PingOk = false;
  ASSERT_FALSE(Ends(UpdateLastAccess));
}

void FleetFixture::Scan(const std::string& name, std::time_t when, const std::function<void(ScanState&)>& edit) {
  NewRun();
  clock_->Set(when);
  FillInventory(*state_);
  if (edit) edit(*state_);
  // The agent stamps the contact under the name it was given.
  state_->TargetName = name == "PC042" ? "pc042.corp.example" : name;
  state_->PingOk = true;
  ASSERT_FALSE(Ends(UpdateLastAccess));
  state_->TargetName = name;
  ASSERT_FALSE(Ends(UpdateDB));
}

FleetSource& FleetFixture::Source() {
  if (!source_) {
    std::ostringstream notes;
    Result<FleetSource> opened =
        OpenFleetSource(server_, (folder_.path() / "index.sqlite").string(), ":memory:", notes);
    EXPECT_TRUE(opened.ok()) << opened.status().description();
    EXPECT_EQ(notes.str(), "");
    source_ = std::make_unique<FleetSource>(std::move(opened).value());
    Refresh();
  }
  return *source_;
}

RefreshReport FleetFixture::Refresh() {
  Result<RefreshReport> report = RefreshFleetIndex(*Source().index, *Source().reader, Now());
  EXPECT_TRUE(report.ok()) << report.status().description();
  return report.ok() ? report.value() : RefreshReport{};
}

}  // namespace hostlore::test
