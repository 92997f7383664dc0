#include "db/fleet_index_writer.h"

#include <arpa/inet.h>

#include <set>
#include <utility>
#include <vector>

#include "db/change_kind.h"
#include "db/history_records.h"
#include "db/software_list_text.h"
#include "util/text.h"

namespace hostlore {
namespace {

using Installation = std::pair<int64_t, std::string>;  // program, version

// A dotted IPv4 address as a number, so that addresses sort as numbers.
std::optional<int64_t> AddressKey(const std::string& address) {
  in_addr parsed{};
  if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) return std::nullopt;
  return static_cast<int64_t>(ntohl(parsed.s_addr));
}

}  // namespace

Status FleetIndexWriter::Prepare() {
  for (auto [statement, sql] : {
           std::pair{&upsert_, "INSERT INTO computer (name, folded, inventoried, stamp, address, address_key, os, "
                               "service_pack, domain, user, memory_mb, manufacturer, model, last_inventory, "
                               "outcome, first_seen, last_change, search) VALUES (?, ?, 1, ?, ?, ?, ?, ?, ?, ?, "
                               "?, ?, ?, ?, 'inventoried', ?, ?, ?) ON CONFLICT (name) DO UPDATE SET "
                               "inventoried = 1, stamp = excluded.stamp, address = excluded.address, "
                               "address_key = excluded.address_key, os = excluded.os, service_pack = "
                               "excluded.service_pack, domain = excluded.domain, user = excluded.user, "
                               "memory_mb = excluded.memory_mb, manufacturer = excluded.manufacturer, model = "
                               "excluded.model, last_inventory = excluded.last_inventory, first_seen = "
                               "excluded.first_seen, last_change = excluded.last_change, search = "
                               "excluded.search RETURNING id"},
           std::pair{&old_installations_, "SELECT program, version FROM installation WHERE computer = ?"},
           std::pair{&remove_installation_,
                     "DELETE FROM installation WHERE computer = ? AND program = ? AND version = ?"},
           std::pair{&clear_changes_, "DELETE FROM change WHERE computer = ?"},
           std::pair{&add_program_, "INSERT INTO program (name, folded) VALUES (?, ?)"},
           std::pair{&add_installation_, "INSERT INTO installation (computer, program, version) VALUES (?, ?, ?)"},
           std::pair{&add_change_,
                     "INSERT INTO change (computer, seq, time, kind, subject, message) VALUES (?, ?, ?, ?, ?, ?)"},
           std::pair{&count_version_,
                     "INSERT INTO program_version (program, version, computers) VALUES (?, ?, ?) "
                     "ON CONFLICT (program, version) DO UPDATE SET computers = computers + excluded.computers"},
           std::pair{&count_program_, "UPDATE program SET computers = computers + ? WHERE id = ?"},
       }) {
    Result<IndexStatement> prepared = db_.Prepare(sql);
    if (!prepared.ok()) return prepared.status();
    *statement = std::move(prepared).value();
  }
  Result<IndexStatement> programs = db_.Prepare("SELECT id, name FROM program");
  if (!programs.ok()) return programs.status();
  for (;;) {
    Result<bool> row = programs->Step();
    if (!row.ok()) return row.status();
    if (!row.value()) return Status::Ok();
    programs_.emplace(programs->Text(1), programs->Integer(0));
  }
}

Result<int64_t> FleetIndexWriter::ProgramId(const std::string& name) {
  if (auto found = programs_.find(name); found != programs_.end()) return found->second;
  if (Status s = add_program_.Bind(1, name).Bind(2, FoldCase(name)).Run(); !s.ok()) return s;
  const int64_t id = db_.LastInsertId();
  programs_.emplace(name, id);
  return id;
}

Status FleetIndexWriter::CountVersion(int64_t program, const std::string& version, int delta) {
  if (bulk_) return Status::Ok();
  return count_version_.Bind(1, program).Bind(2, version).Bind(3, int64_t{delta}).Run();
}

Status FleetIndexWriter::CountProgram(int64_t program, int delta) {
  if (bulk_ || delta == 0) return Status::Ok();
  return count_program_.Bind(1, int64_t{delta}).Bind(2, program).Run();
}

Status FleetIndexWriter::Write(const InventorySummary& summary) {
  const std::vector<HistoryRecord> history = ParseHistory(summary.history);
  std::optional<std::string> first_seen, last_change;
  for (const HistoryRecord& record : history) {
    if (record.time.empty()) continue;
    if (!first_seen && record.message == "New Record Created") first_seen = record.time;
    if (!last_change || record.time > *last_change) last_change = record.time;
  }
  const std::optional<int64_t> address_key = AddressKey(summary.address);
  upsert_.Bind(1, summary.computer).Bind(2, FoldCase(summary.computer)).Bind(3, summary.last_inventory);
  upsert_.Bind(4, summary.address).Bind(6, summary.operating_system).Bind(7, summary.service_pack);
  upsert_.Bind(8, summary.domain).Bind(9, summary.user).Bind(11, summary.manufacturer).Bind(12, summary.model);
  if (address_key) upsert_.Bind(5, *address_key);
  if (summary.memory_mb) upsert_.Bind(10, *summary.memory_mb);
  upsert_.Bind(13, summary.last_inventory).Bind(14, first_seen).Bind(15, last_change);
  upsert_.Bind(16, FoldCase(summary.computer + " " + summary.address + " " + summary.user + " " +
                            summary.operating_system));
  Result<bool> stepped = upsert_.Step();
  if (!stepped.ok()) return stepped.status();
  const int64_t id = upsert_.Integer(0);
  upsert_.Reset();

  std::set<Installation> old_rows, new_rows;
  old_installations_.Bind(1, id);
  for (;;) {
    Result<bool> row = old_installations_.Step();
    if (!row.ok()) return row.status();
    if (!row.value()) break;
    old_rows.emplace(old_installations_.Integer(0), old_installations_.Text(1));
  }
  old_installations_.Reset();
  if (summary.software) {
    for (const SoftwareRow& row : ParseSoftwareList(*summary.software).rows) {
      Result<int64_t> program = ProgramId(row[0]);
      if (!program.ok()) return program.status();
      new_rows.emplace(program.value(), row[1]);
    }
  }
  for (const Installation& row : old_rows) {
    if (new_rows.contains(row)) continue;
    if (Status s = remove_installation_.Bind(1, id).Bind(2, row.first).Bind(3, row.second).Run(); !s.ok()) return s;
    if (Status s = CountVersion(row.first, row.second, -1); !s.ok()) return s;
  }
  for (const Installation& row : new_rows) {
    if (old_rows.contains(row)) continue;
    if (Status s = add_installation_.Bind(1, id).Bind(2, row.first).Bind(3, row.second).Run(); !s.ok()) return s;
    if (Status s = CountVersion(row.first, row.second, 1); !s.ok()) return s;
  }
  // A computer counts once per program, whatever its versions.
  std::set<int64_t> old_programs, new_programs;
  for (const Installation& row : old_rows) old_programs.insert(row.first);
  for (const Installation& row : new_rows) new_programs.insert(row.first);
  for (const int64_t program : old_programs) {
    if (Status s = CountProgram(program, new_programs.contains(program) ? 0 : -1); !s.ok()) return s;
  }
  for (const int64_t program : new_programs) {
    if (Status s = CountProgram(program, old_programs.contains(program) ? 0 : 1); !s.ok()) return s;
  }

  if (Status s = clear_changes_.Bind(1, id).Run(); !s.ok()) return s;
  int64_t seq = 0;
  for (const HistoryRecord& record : history) {
    const ChangeReading change = ReadChange(record.message);
    add_change_.Bind(1, id).Bind(2, seq++).Bind(3, record.time).Bind(4, ChangeKindName(change.kind));
    if (Status s = add_change_.Bind(5, change.subject).Bind(6, record.message).Run(); !s.ok()) return s;
  }
  return Status::Ok();
}

Status FleetIndexWriter::Remove(int64_t id) {
  std::vector<std::string> statements;
  if (!bulk_) {
    statements = {"UPDATE program_version SET computers = computers - 1 WHERE (program, version) IN "
                  "(SELECT program, version FROM installation WHERE computer = ?)",
                  "UPDATE program SET computers = computers - 1 WHERE id IN "
                  "(SELECT DISTINCT program FROM installation WHERE computer = ?)"};
  }
  for (const char* sql : {"DELETE FROM installation WHERE computer = ?", "DELETE FROM change WHERE computer = ?",
                          "DELETE FROM computer WHERE id = ?"}) {
    statements.emplace_back(sql);
  }
  for (const std::string& sql : statements) {
    Result<IndexStatement> statement = db_.Prepare(sql);
    if (!statement.ok()) return statement.status();
    if (Status s = statement->Bind(1, id).Run(); !s.ok()) return s;
  }
  return Status::Ok();
}

Status FleetIndexWriter::RecountPrograms() {
  const Status counted = db_.Execute(
      "DELETE FROM program_version;"
      "INSERT INTO program_version (program, version, computers) "
      "  SELECT program, version, COUNT(*) FROM installation GROUP BY program, version;"
      "UPDATE program SET computers = (SELECT COUNT(DISTINCT computer) FROM installation WHERE program = program.id)");
  if (!counted.ok()) return counted;
  return DropUnusedPrograms();
}

Status FleetIndexWriter::DropUnusedPrograms() {
  return db_.Execute("DELETE FROM program_version WHERE computers <= 0; DELETE FROM program WHERE computers <= 0");
}

}  // namespace hostlore
