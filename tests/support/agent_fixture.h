// Runs the agent in this process over a lab folder, capturing its progress
// lines and error log.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "scan/scan_state.h"
#include "support/test_support.h"

namespace hostlore::test {

// A lab computer PC042 at 192.0.2.42 that answers, lets its registry be read,
// has WMI, four programs and two services, as a JSON text; `extra` is
// spliced in as further top-level members.
std::string Pc042Json(const std::string& extra = "");

class AgentFixture : public ::testing::Test {
 protected:
  // Runs the agent with command line "<capture fd>," + fields; returns its
  // exit status. `adjust` may wrap or replace seams of the lab platform.
  int Run(const std::string& fields,
          const std::function<void(Platform&)>& adjust = nullptr);

  // A server field for a SQLite file in the test's temporary folder.
  std::string Db() const { return "sqlite:" + (temp_.path() / "hostlore.db").string(); }

  std::vector<std::string> Progress() { return progress_.Lines(); }
  std::vector<std::string> Log() const { return ReadCrLfLines(temp_.path() / "Kelvarn.log"); }
  // The log lines without their time stamp field.
  std::vector<std::string> LogWithoutTime() const;

  TempFolder lab_;
  TempFolder temp_;
  ProgressCapture progress_;
  std::unique_ptr<ScanState> state_ = std::make_unique<ScanState>();
};

}  // namespace hostlore::test
