// Writing one computer into the fleet index: its row, its installations
// and its history records, and the counts of computers per program and per
// version that the software questions read. Only the installations that
// changed are written, so that a computer stored again with one program
// more costs one row, not a hundred.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "db/index_sqlite.h"
#include "db/inventory_reader.h"

namespace hostlore {

class FleetIndexWriter {
 public:
  // In `bulk` mode the counts are not kept row by row: RecountPrograms
  // makes them whole at the end.
  FleetIndexWriter(IndexDb& db, bool bulk) : db_(db), bulk_(bulk) {}

  // Prepares the statements. Failure: the index cannot be read.
  Status Prepare();
  // Writes (adds or replaces) the computer of `summary`.
  Status Write(const InventorySummary& summary);
  // Removes computer `id` with everything that hangs on it.
  Status Remove(int64_t id);
  // Counts computers per program and version afresh, then drops the
  // programs that no computer has any more.
  Status RecountPrograms();
  // Drops the programs and versions that no computer has any more.
  Status DropUnusedPrograms();

 private:
  Result<int64_t> ProgramId(const std::string& name);
  Status CountVersion(int64_t program, const std::string& version, int delta);
  Status CountProgram(int64_t program, int delta);

  IndexDb& db_;
  bool bulk_;
  IndexStatement upsert_, old_installations_, remove_installation_, clear_changes_, add_program_,
      add_installation_, add_change_, count_version_, count_program_;
  std::unordered_map<std::string, int64_t> programs_;
};

}  // namespace hostlore
