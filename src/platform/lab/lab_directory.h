// The lab computers of one folder, found by name or address.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/echo/echo.h"
#include "platform/lab/lab_computer.h"
#include "platform/status.h"

namespace hostlore {

// Immutable once loaded: the seams share one directory and may look up from
// any number of threads at once.
class LabDirectory {
 public:
  // Reads every *.json file of `folder`, one computer each. Failure: the
  // folder cannot be listed, a file cannot be read or parsed, or two files
  // claim the same name or address; the description names the folder or file.
  static Result<std::shared_ptr<const LabDirectory>> Load(const std::string& folder);

  // The computer that `host` stands for: dotted text of a computer's address,
  // or one of its names (without regard to case). nullptr: no such computer.
  std::shared_ptr<const LabComputer> FindHost(std::string_view host) const;
  // The computer that answers from `address`; nullptr: none.
  std::shared_ptr<const LabComputer> FindAddress(const Ipv4Address& address) const;

 private:
  LabDirectory() = default;

  std::vector<std::shared_ptr<const LabComputer>> computers_;
};

}  // namespace hostlore
