// The lab computers of one folder, found by name or address.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "platform/echo/echo.h"
#include "platform/lab/lab_computer.h"
#include "platform/lab/lab_index.h"
#include "platform/status.h"

namespace hostlore {

// The seams share one directory and may look up from any number of threads
// at once.
class LabDirectory {
 public:
  // Reads every *.json file of `folder`, one computer each. Failure: the
  // folder cannot be listed, a file cannot be read or parsed, or two files
  // claim the same name or address; the description names the folder or file.
  // When a trusted LabIndex of the folder exists (see lab_index.h), only the
  // index is read here and a computer's file is parsed when it is first
  // looked up; a file that then no longer parses or no longer claims the name
  // or address looked up counts as no computer. The file of `first_host`
  // (when given: the computer the run is for) is looked up at once, and when
  // it has changed since it was indexed (its size or time differ), the index
  // is not used: the folder is loaded in full, failures and all. With
  // `whole`, every file is read even then: a caller that looks up most
  // computers at once is faster without the index.
  static Result<std::shared_ptr<const LabDirectory>> Load(const std::string& folder,
                                                          std::string_view first_host = {},
                                                          bool whole = false);

  // The computer that `host` stands for: dotted text of a computer's address,
  // or one of its names (without regard to case). nullptr: no such computer.
  std::shared_ptr<const LabComputer> FindHost(std::string_view host) const;
  // The computer that answers from `address`; nullptr: none.
  std::shared_ptr<const LabComputer> FindAddress(const Ipv4Address& address) const;

 private:
  // Only Load makes directories (the constructor is public for make_shared).
  struct Key {};

 public:
  explicit LabDirectory(Key) {}

 private:
  // The computer that holds identity key `key` ("address a.b.c.d" or
  // "name lowercase"); nullptr: none.
  std::shared_ptr<const LabComputer> Find(const std::string& key) const;
  std::shared_ptr<const LabComputer> ParseIndexed(const std::string& file) const;

  // After a full load: every identity key and its computer.
  std::unordered_map<std::string, std::shared_ptr<const LabComputer>> by_key_;
  // With a trusted index instead: the folder, its index, and the computers
  // parsed so far by file name (nullptr: the file no longer parses).
  std::string folder_;
  std::optional<LabIndex> index_;
  mutable std::mutex mutex_;
  mutable std::map<std::string, std::shared_ptr<const LabComputer>> parsed_;
};

}  // namespace hostlore
