// Everything stored about one computer, read from the inventory itself (not
// the fleet index), each text read by the same parsers as the comparisons:
// for hostlore-db show and the web view's computer page.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "db/drive_history_text.h"
#include "db/history_records.h"
#include "db/inventory_reader.h"
#include "db/software_list_text.h"
#include "platform/database/database.h"

namespace hostlore {

struct DriveHistoryRecord {
  char letter = 'C';
  std::vector<DriveDay> days;
};

struct AccessRecord {
  std::string name;                 // the name the agent was given
  std::optional<std::string> time;  // Null until the computer first answered
};

struct ComputerRecord {
  std::string name;                    // as stored
  std::vector<FieldValue> asset;       // the Asset row by ordinal; empty without one
  std::vector<HistoryRecord> history;  // oldest first
  bool has_software = false;           // a Software row with a list
  SoftwareListRows software;           // in stored order
  std::vector<std::string> services;
  std::vector<DriveHistoryRecord> drives;  // C: to J:, those with a history
  std::vector<AccessRecord> accesses;      // the row of its own name first, then its aliases
};

// The stored names that `name` stands for: the exact name when it is
// stored, else every stored name that equals it without regard to case
// (none: the computer is not there; several: the name is ambiguous).
Result<std::vector<std::string>> ResolveComputerName(InventoryReader& reader, const std::string& name);

// The record of the computer stored as `name` (exactly). Failure: a query
// failed.
Result<ComputerRecord> ReadComputerRecord(Database& database, InventoryReader& reader, const std::string& name);

// The fields of an entry's product part: product id, company, owner.
ProductFields EntryProductFields(const SoftwareRow& row);

}  // namespace hostlore
