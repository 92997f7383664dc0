// hostlore-web's view, served inside the test process on a free port, over
// the fleet of FleetFixture, with "now" fixed at its Now().
#pragma once

#include <httplib.h>

#include <memory>
#include <string>
#include <thread>

#include "db/fleet_fixture.h"
#include "web/web_view.h"

namespace hostlore::test {

class WebFixture : public FleetFixture {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Runs before the view starts: more computers for the fleet.
  virtual void AddComputers() {}

  // GET of `path` (with its query); fails the test when nothing answers.
  httplib::Result Get(const std::string& path);

  std::unique_ptr<WebView> view_;
  std::thread serving_;
};

}  // namespace hostlore::test
