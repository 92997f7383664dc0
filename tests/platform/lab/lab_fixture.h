// Lab platforms built from JSON text written into a temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "platform/lab/lab_platform.h"
#include "support/test_support.h"

namespace hostlore::test {

class LabTest : public ::testing::Test {
 protected:
  // The lab platform of the folder after writing `json` as pc.json into it.
  Platform Lab(const std::string& json) {
    folder_.Write("pc.json", json);
    Result<Platform> lab = MakeLabPlatform(folder_.path().string());
    // Thrown rather than asserted: the caller goes on to use the seams.
    if (!lab.ok()) throw std::runtime_error("lab does not load: " + lab.status().description());
    return std::move(lab).value();
  }

  // The failure description of loading the folder after writing `json` as
  // pc.json; empty when it loads.
  std::string LoadFailure(const std::string& json) {
    folder_.Write("pc.json", json);
    Result<Platform> lab = MakeLabPlatform(folder_.path().string());
    return lab.ok() ? "" : lab.status().description();
  }

  TempFolder folder_;
};

}  // namespace hostlore::test
