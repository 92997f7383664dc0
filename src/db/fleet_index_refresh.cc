#include "db/fleet_index_refresh.h"

#include <arpa/inet.h>

#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "db/change_kind.h"
#include "db/history_text.h"
#include "db/last_contact.h"
#include "db/software_list_text.h"
#include "diag/time_stamp.h"
#include "util/text.h"

namespace hostlore {
namespace {

// A refresh that reads more computers than this, and most of the fleet,
// builds the secondary indexes anew.
constexpr size_t kBulkRefresh = 1000;

struct KnownComputer {
  int64_t id = 0;
  bool inventoried = false;
  std::optional<std::string> stamp;
  std::optional<std::string> last_inventory, last_answer, last_contact;
  std::string outcome;
};

// A dotted IPv4 address as a number, so that addresses sort as numbers.
std::optional<int64_t> AddressKey(const std::string& address) {
  in_addr parsed{};
  if (inet_pton(AF_INET, address.c_str(), &parsed) != 1) return std::nullopt;
  return static_cast<int64_t>(ntohl(parsed.s_addr));
}

// Runs `work` in one write transaction of the index.
Status InTransaction(IndexDb& db, const std::function<Status()>& work) {
  if (Status s = db.Execute("BEGIN IMMEDIATE"); !s.ok()) return s;
  const Status done = work();
  if (!done.ok()) {
    db.Execute("ROLLBACK");
    return done;
  }
  return db.Execute("COMMIT");
}

// Writes the rows of computers read again: the computer row, its
// installations and its history records.
class SummaryWriter {
 public:
  explicit SummaryWriter(IndexDb& db) : db_(db) {}

  Status Prepare() {
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
             std::pair{&clear_installations_, "DELETE FROM installation WHERE computer = ?"},
             std::pair{&clear_changes_, "DELETE FROM change WHERE computer = ?"},
             std::pair{&add_program_, "INSERT INTO program (name, folded) VALUES (?, ?)"},
             std::pair{&add_installation_,
                       "INSERT OR IGNORE INTO installation (program, version, computer) VALUES (?, ?, ?)"},
             std::pair{&add_change_,
                       "INSERT INTO change (computer, seq, time, kind, subject, message) VALUES (?, ?, ?, ?, ?, ?)"},
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

  Status Write(const InventorySummary& summary) {
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
    if (Status s = clear_installations_.Bind(1, id).Run(); !s.ok()) return s;
    if (Status s = clear_changes_.Bind(1, id).Run(); !s.ok()) return s;

    if (summary.software) {
      for (const SoftwareRow& row : ParseSoftwareList(*summary.software).rows) {
        Result<int64_t> program = ProgramId(row[0]);
        if (!program.ok()) return program.status();
        if (Status s = add_installation_.Bind(1, program.value()).Bind(2, row[1]).Bind(3, id).Run(); !s.ok()) {
          return s;
        }
      }
    }
    int64_t seq = 0;
    for (const HistoryRecord& record : history) {
      const ChangeReading change = ReadChange(record.message);
      add_change_.Bind(1, id).Bind(2, seq++).Bind(3, record.time).Bind(4, ChangeKindName(change.kind));
      if (Status s = add_change_.Bind(5, change.subject).Bind(6, record.message).Run(); !s.ok()) return s;
    }
    return Status::Ok();
  }

 private:
  Result<int64_t> ProgramId(const std::string& name) {
    if (auto found = programs_.find(name); found != programs_.end()) return found->second;
    if (Status s = add_program_.Bind(1, name).Bind(2, FoldCase(name)).Run(); !s.ok()) return s;
    const int64_t id = db_.LastInsertId();
    programs_.emplace(name, id);
    return id;
  }

  IndexDb& db_;
  IndexStatement upsert_, clear_installations_, clear_changes_, add_program_, add_installation_, add_change_;
  std::unordered_map<std::string, int64_t> programs_;
};

Result<std::unordered_map<std::string, KnownComputer>> KnownComputers(IndexDb& db) {
  Result<IndexStatement> select = db.Prepare(
      "SELECT id, name, inventoried, stamp, last_inventory, last_answer, last_contact, outcome FROM computer");
  if (!select.ok()) return select.status();
  std::unordered_map<std::string, KnownComputer> known;
  for (;;) {
    Result<bool> row = select->Step();
    if (!row.ok()) return row.status();
    if (!row.value()) return known;
    known[select->Text(1)] = {select->Integer(0),         select->Integer(2) != 0,  select->OptionalText(3),
                              select->OptionalText(4),    select->OptionalText(5),  select->OptionalText(6),
                              select->Text(7)};
  }
}

Status RemoveComputer(IndexDb& db, int64_t id) {
  for (const char* sql : {"DELETE FROM installation WHERE computer = ?", "DELETE FROM change WHERE computer = ?",
                          "DELETE FROM computer WHERE id = ?"}) {
    Result<IndexStatement> remove = db.Prepare(sql);
    if (!remove.ok()) return remove.status();
    if (Status s = remove->Bind(1, id).Run(); !s.ok()) return s;
  }
  return Status::Ok();
}

// The last contact of every computer from LastAccess: rows matched to a
// computer give it their newest time; names that match none stand for
// computers that were never inventoried.
Status RefreshContacts(IndexDb& db, const std::vector<InventoryStamp>& stamps,
                       const std::vector<InventoryAccess>& accesses) {
  AccessMatcher matcher;
  for (size_t i = 0; i < stamps.size(); ++i) matcher.AddComputer(i, stamps[i].computer, stamps[i].address);
  std::vector<std::optional<std::string>> answers(stamps.size());
  std::unordered_map<std::string, std::optional<std::string>> orphans;
  const auto newest = [](std::optional<std::string>& slot, const std::optional<std::string>& time) {
    if (time && (!slot || *time > *slot)) slot = time;
  };
  for (const InventoryAccess& access : accesses) {
    if (std::optional<size_t> match = matcher.Match(access.computer)) {
      newest(answers[*match], access.time);
    } else {
      newest(orphans[access.computer], access.time);
    }
  }
  Result<std::unordered_map<std::string, KnownComputer>> known = KnownComputers(db);
  if (!known.ok()) return known.status();
  Result<IndexStatement> update = db.Prepare(
      "UPDATE computer SET last_answer = ?, last_contact = ?, outcome = ? WHERE id = ?");
  Result<IndexStatement> add_orphan = db.Prepare(
      "INSERT INTO computer (name, folded, inventoried, last_answer, last_contact, outcome, search) "
      "VALUES (?, ?, 0, ?, ?, ?, ?)");
  if (!update.ok()) return update.status();
  if (!add_orphan.ok()) return add_orphan.status();
  const auto settle = [&](const KnownComputer& row, const std::optional<std::string>& last_inventory,
                          const std::optional<std::string>& answer) -> Status {
    const std::optional<std::string> contact = LastContact(last_inventory, answer);
    const std::string outcome(OutcomeName(OutcomeOf(last_inventory, answer)));
    if (row.last_answer == answer && row.last_contact == contact && row.outcome == outcome) return Status::Ok();
    return update->Bind(1, answer).Bind(2, contact).Bind(3, outcome).Bind(4, row.id).Run();
  };
  std::unordered_set<std::string> settled;
  for (size_t i = 0; i < stamps.size(); ++i) {
    auto row = known->find(stamps[i].computer);
    if (row == known->end() || !settled.insert(stamps[i].computer).second) continue;
    if (Status s = settle(row->second, row->second.last_inventory, answers[i]); !s.ok()) return s;
  }
  for (const auto& [name, answer] : orphans) {
    auto row = known->find(name);
    if (row != known->end() && row->second.inventoried) continue;  // an Asset row read since
    if (row != known->end()) {
      if (Status s = settle(row->second, std::nullopt, answer); !s.ok()) return s;
    } else {
      const std::string outcome(OutcomeName(OutcomeOf(std::nullopt, answer)));
      add_orphan->Bind(1, name).Bind(2, FoldCase(name)).Bind(3, answer).Bind(4, answer).Bind(5, outcome);
      if (Status s = add_orphan->Bind(6, FoldCase(name)).Run(); !s.ok()) return s;
    }
  }
  for (const auto& [name, row] : known.value()) {
    if (!row.inventoried && !orphans.contains(name)) {
      if (Status s = RemoveComputer(db, row.id); !s.ok()) return s;
    }
  }
  return Status::Ok();
}

}  // namespace

Result<RefreshReport> RefreshFleetIndex(FleetIndex& index, InventoryReader& inventory, std::time_t now,
                                        const RefreshProgress& progress) {
  IndexDb& db = index.db();
  std::vector<InventoryStamp> stamps;
  std::unordered_set<std::string> seen;
  Status read = inventory.ForEachStamp([&](InventoryStamp&& stamp) {
    // Of several rows with one name, the first is the computer's, as for the agent.
    if (seen.insert(stamp.computer).second) stamps.push_back(std::move(stamp));
  });
  if (!read.ok()) return read;
  std::vector<InventoryAccess> accesses;
  read = inventory.ForEachAccess([&](InventoryAccess&& access) { accesses.push_back(std::move(access)); });
  if (!read.ok()) return read;

  Result<std::unordered_map<std::string, KnownComputer>> known = KnownComputers(db);
  if (!known.ok()) return known.status();
  RefreshReport report;
  report.computers = stamps.size();
  std::vector<std::string> changed;
  for (const InventoryStamp& stamp : stamps) {
    auto row = known->find(stamp.computer);
    if (row == known->end() || !row->second.inventoried || row->second.stamp != stamp.last_inventory) {
      changed.push_back(stamp.computer);
    }
  }
  SummaryWriter writer(db);
  if (!changed.empty()) {
    if (Status s = writer.Prepare(); !s.ok()) return s;
  }
  if (changed.size() > kBulkRefresh && changed.size() * 2 > stamps.size()) {
    if (Status s = index.DropSecondaryIndexes(); !s.ok()) return s;
  }
  for (size_t first = 0; first < changed.size(); first += kSummaryBatch) {
    const std::vector<std::string> batch(changed.begin() + static_cast<ptrdiff_t>(first),
                                         changed.begin() + static_cast<ptrdiff_t>(std::min(first + kSummaryBatch, changed.size())));
    std::vector<InventorySummary> summaries;
    std::unordered_set<std::string> taken;
    read = inventory.ReadSummaries(batch, [&](InventorySummary&& summary) {
      if (taken.insert(summary.computer).second) summaries.push_back(std::move(summary));
    });
    if (!read.ok()) return read;
    const Status written = InTransaction(db, [&]() -> Status {
      for (const InventorySummary& summary : summaries) {
        if (Status s = writer.Write(summary); !s.ok()) return s;
      }
      return Status::Ok();
    });
    if (!written.ok()) return written;
    report.read += summaries.size();
    if (progress) progress(first + batch.size(), changed.size());
  }

  const Status settled = InTransaction(db, [&]() -> Status {
    for (const auto& [name, row] : known.value()) {
      if (row.inventoried && !seen.contains(name)) {
        if (Status s = RemoveComputer(db, row.id); !s.ok()) return s;
        ++report.removed;
      }
    }
    if (Status s = RefreshContacts(db, stamps, accesses); !s.ok()) return s;
    if (!changed.empty() || report.removed > 0) {
      const Status s = db.Execute(
          "DELETE FROM program WHERE NOT EXISTS (SELECT 1 FROM installation WHERE program = program.id)");
      if (!s.ok()) return s;
    }
    // Also after a refresh that stopped half way.
    if (Status s = index.CreateSecondaryIndexes(); !s.ok()) return s;
    Result<IndexStatement> stamp = db.Prepare("INSERT OR REPLACE INTO meta (key, value) VALUES ('refreshed', ?)");
    if (!stamp.ok()) return stamp.status();
    return stamp->Bind(1, FormatTimeStamp(now)).Run();
  });
  if (!settled.ok()) return settled;
  return report;
}

}  // namespace hostlore
