// "Which computers have program X?": programs whose name holds a text
// (without regard to case), each with its versions and how many computers
// have each, and the installations down to the computers.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "db/answer_table.h"
#include "db/fleet_query.h"
#include "db/index_sqlite.h"

namespace hostlore {

struct VersionCount {
  std::string version;
  int64_t computers = 0;
};

struct ProgramSummary {
  std::string name;
  int64_t computers = 0;               // computers with any version
  std::vector<VersionCount> versions;  // most computers first
};

struct ProgramPage {
  int64_t total = 0;  // programs that match
  std::vector<ProgramSummary> programs;
};

// Programs whose name holds `text` (every program for the empty text), by
// name, a page of programs at a time.
// With `each`, the programs go to it as they are read instead of into the page.
Result<ProgramPage> SearchPrograms(IndexDb& index, std::string_view text, QueryPage page,
                                   const std::function<void(ProgramSummary&&)>& each = {});

struct InstallationFilter {
  std::string text;                    // part of the program name, without regard to case
  std::optional<std::string> program;  // or exactly this name
  std::optional<std::string> version;  // exactly
};

struct InstallationRow {
  std::string program, version, computer;
  std::optional<std::string> last_contact;
  bool stale = false;
};

struct InstallationPage {
  int64_t total = 0;
  std::vector<InstallationRow> rows;
};

// Installations by program, version and computer name.
Result<InstallationPage> ListInstallations(IndexDb& index, const InstallationFilter& filter,
                                           const StaleRule& stale, QueryPage page,
                                           const std::function<void(InstallationRow&&)>& each = {});

// program, version, computers: one row per version.
AnswerTable ProgramTable(const std::vector<ProgramSummary>& programs);
// program, version, computer, last_contact, stale.
AnswerTable InstallationTable(const std::vector<InstallationRow>& rows);

}  // namespace hostlore
