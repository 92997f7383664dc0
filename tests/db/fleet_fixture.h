// A small fleet stored by the real update run, on either engine, for the
// fleet questions; "now" is 2003/06/10 12:00:00.
//
//   PC042    first stored 2003/05/01; stored again 2003/06/09 with memory
//            512 -> 1024, Office 11 -> 12, Visio installed, Lotus Notes
//            removed; its LastAccess row is under pc042.corp.example
//   NEW01    first stored 2003/06/08: new this week
//   OLD01    stored and last reached 2003/04/01: stale
//   GONE01   stored 2003/06/01 (tests delete it: a vanished computer)
//   LOCKED1  answered 2003/06/09 but never stored (LastAccess only)
//   SILENT9  never answered
#pragma once

#include <ctime>
#include <functional>
#include <string>

#include "db/db_fixture.h"
#include "db/fleet_index_refresh.h"
#include "db/fleet_query.h"
#include "db/fleet_source.h"

namespace hostlore::test {

class FleetFixture : public DbFixture {
 protected:
  void SetUp() override;

  static std::time_t Now();
  static StaleRule Stale();  // 30 days before Now()

  // One agent run for `name` at `when`: the contact, then the update run of
  // FillInventory's inventory as changed by `edit`.
  void Scan(const std::string& name, std::time_t when, const std::function<void(ScanState&)>& edit = {});
  // The index of the fleet, refreshed at Now().
  FleetSource& Source();
  IndexDb& Index() { return Source().index->db(); }
  RefreshReport Refresh();

 private:
  std::unique_ptr<FleetSource> source_;
};

}  // namespace hostlore::test
