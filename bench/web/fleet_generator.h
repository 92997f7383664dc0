// A generated fleet for the web view's benchmark (and its screenshots):
// computers with a software list of chosen length drawn from a catalogue
// where some programs are everywhere and most are rare, a history of chosen
// length (hardware, drive and software changes over a year), a drive
// history of half a year, last contacts of which a tenth are stale, and a
// few names that never answered. Written straight into the tables, as the
// update run leaves them.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "platform/database/field_value.h"

namespace hostlore::bench {

struct FleetShape {
  int computers = 10000;
  int programs = 150;  // per computer
  int history = 40;    // records per computer
  std::time_t now = 0;
  uint64_t seed = 15;
};

// Receives each row: the table's name and its values by ordinal.
using RowSink = std::function<void(const std::string& table, const std::vector<FieldValue>& row)>;

void GenerateFleet(const FleetShape& shape, const RowSink& sink);

// The name of computer `index`, and the most installed program.
std::string ComputerName(int index);
std::string PopularProgram();

}  // namespace hostlore::bench
