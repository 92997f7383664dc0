// A scan state on a lab computer, as the collectors find it after the echo
// has answered.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "scan/process_end.h"
#include "scan/scan_state.h"
#include "support/test_support.h"

namespace hostlore::test {

class CollectorTest : public ::testing::Test {
 protected:
  // Loads one lab computer at 192.0.2.42, named PC042, from `json`.
  void Lab(const std::string& json) {
    lab_.Write("target.json", json);
    Result<Platform> lab = MakeTestLab(lab_.path());
    ASSERT_TRUE(lab.ok()) << lab.status().description();
    state_ = std::make_unique<ScanState>();
    state_->platform = std::move(lab).value();
    state_->TargetName = "PC042";
    state_->TargetAddress = "192.0.2.42";
    state_->TempDir = temp_.path().string();
    state_->ProgressWindow = progress_.write_fd();
    PrepareListViews(state_->Lists);
  }

  std::vector<std::string> Progress() { return progress_.Lines(); }
  // The log lines without their time stamps.
  std::vector<std::string> Log() const {
    std::vector<std::string> lines;
    for (const std::string& line : ReadCrLfLines(temp_.path() / "Kelvarn.log")) {
      lines.push_back(line.substr(20));
    }
    return lines;
  }

  // Runs `stage`; true when it ended the run.
  template <typename Stage>
  bool EndsRun(Stage stage) {
    try {
      stage(*state_);
    } catch (const ProcessEnd&) {
      return true;
    }
    return false;
  }

  TempFolder lab_, temp_;
  ProgressCapture progress_;
  std::unique_ptr<ScanState> state_;
};

}  // namespace hostlore::test
