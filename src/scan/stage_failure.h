// An untrapped failure of a stage.
//
// Stages that have no failure handling of their own (the echo, the access
// check, the user lookups) raise StageFailure; it travels up to the failure
// path of the form procedure that is running (Scan, in practice), which logs
// it under that procedure's name, sends "Complete" and ends the run. Nothing
// else catches it.
#pragma once

#include <stdexcept>
#include <string>

namespace hostlore {

class StageFailure : public std::runtime_error {
 public:
  explicit StageFailure(const std::string& description) : std::runtime_error(description) {}
};

}  // namespace hostlore
