#include "db/fleet_index_refresh.h"

#include <algorithm>
#include <cstdlib>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "db/fleet_index_writer.h"
#include "db/last_contact.h"
#include "diag/time_stamp.h"
#include "util/text.h"

namespace hostlore {
namespace {

struct KnownComputer {
  int64_t id = 0;
  bool inventoried = false;
  std::optional<std::string> stamp;
  std::optional<std::string> last_inventory, last_answer, last_contact;
  std::string outcome;
};

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

// What the inventory said at a refresh: a hash of every stamp and contact
// in the order the server gave them. When it is the same the next time,
// nothing needs reading again.
std::string SourceFingerprint(const std::vector<InventoryStamp>& stamps,
                              const std::vector<InventoryAccess>& accesses) {
  uint64_t hash = 14695981039346656037ull;
  const auto add = [&](std::string_view text) {
    for (const char c : text) hash = (hash ^ static_cast<uint8_t>(c)) * 1099511628211ull;
    hash = (hash ^ 0x1FFu) * 1099511628211ull;  // no byte: ends each field
  };
  for (const InventoryStamp& stamp : stamps) {
    add(stamp.computer);
    add(stamp.last_inventory ? "+" + *stamp.last_inventory : "-");
    add(stamp.address);
  }
  for (const InventoryAccess& access : accesses) {
    add(access.computer);
    add(access.time ? "+" + *access.time : "-");
  }
  return std::to_string(hash);
}

Result<std::unordered_map<std::string, KnownComputer>> KnownComputers(IndexDb& db) {
  Result<IndexStatement> select = db.Prepare(
      "SELECT id, name, inventoried, stamp, last_inventory, last_answer, last_contact, outcome FROM computer");
  if (!select.ok()) return select.status();
  std::unordered_map<std::string, KnownComputer> known;
  for (;;) {
    Result<bool> row = select->Step();
    if (!row.ok()) return row.status();
    if (!row.value()) return known;
    known[select->Text(1)] = {select->Integer(0),      select->Integer(2) != 0, select->OptionalText(3),
                              select->OptionalText(4), select->OptionalText(5), select->OptionalText(6),
                              select->Text(7)};
  }
}

// The last contact of every computer from LastAccess: rows matched to a
// computer give it their newest time; names that match none stand for
// computers that were never inventoried.
Status RefreshContacts(IndexDb& db, FleetIndexWriter& writer, const std::vector<InventoryStamp>& stamps,
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
      if (Status s = writer.Remove(row.id); !s.ok()) return s;
    }
  }
  return Status::Ok();
}

}  // namespace

Result<RefreshReport> RefreshFleetIndex(FleetIndex& index, InventoryReader& inventory, std::time_t now,
                                        const RefreshProgress& progress, size_t bulk_above) {
  IndexDb& db = index.db();
  // Asked before the rows are read: a change made in between is then seen
  // again by the next refresh, never missed. A server that cannot answer
  // it (md5 is refused in FIPS mode) has its rows read instead; a lost
  // connection fails the reading that follows.
  Result<std::string> digest = inventory.SourceDigest();
  if (!digest.ok()) digest = std::string();
  if (!digest->empty()) {
    Result<std::string> known = index.Meta("source-digest");
    if (!known.ok()) return known.status();
    if (known.value() == digest.value()) {
      // As the index has it: only the time is noted.
      Result<std::string> computers = index.Meta("computers");
      if (!computers.ok()) return computers.status();
      if (Status s = index.SetMeta("refreshed", FormatTimeStamp(now)); !s.ok()) return s;
      RefreshReport report;
      report.computers = std::strtoull(computers->c_str(), nullptr, 10);
      return report;
    }
  }
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

  RefreshReport report;
  report.computers = stamps.size();
  const std::string fingerprint = SourceFingerprint(stamps, accesses);
  Result<std::string> previous = index.Meta("source");
  if (!previous.ok()) return previous.status();
  if (previous.value() == fingerprint) {
    const Status noted = InTransaction(db, [&]() -> Status {
      if (Status s = index.SetMeta("source-digest", digest.value()); !s.ok()) return s;
      if (Status s = index.SetMeta("computers", std::to_string(stamps.size())); !s.ok()) return s;
      return index.SetMeta("refreshed", FormatTimeStamp(now));
    });
    if (!noted.ok()) return noted;
    return report;
  }

  Result<std::unordered_map<std::string, KnownComputer>> known = KnownComputers(db);
  if (!known.ok()) return known.status();
  std::vector<std::string> changed;
  for (const InventoryStamp& stamp : stamps) {
    auto row = known->find(stamp.computer);
    if (row == known->end() || !row->second.inventoried || row->second.stamp != stamp.last_inventory) {
      changed.push_back(stamp.computer);
    }
  }
  const bool bulk = changed.size() > bulk_above && changed.size() * 2 > stamps.size();
  FleetIndexWriter writer(db, bulk);
  if (Status s = writer.Prepare(); !s.ok()) return s;
  if (bulk) {
    if (Status s = index.DropSecondaryIndexes(); !s.ok()) return s;
  }
  for (size_t first = 0; first < changed.size(); first += kSummaryBatch) {
    const size_t end = std::min(first + kSummaryBatch, changed.size());
    const std::vector<std::string> batch(changed.begin() + static_cast<ptrdiff_t>(first),
                                         changed.begin() + static_cast<ptrdiff_t>(end));
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
    if (progress) progress(end, changed.size());
  }

  const Status settled = InTransaction(db, [&]() -> Status {
    for (const auto& [name, row] : known.value()) {
      if (row.inventoried && !seen.contains(name)) {
        if (Status s = writer.Remove(row.id); !s.ok()) return s;
        ++report.removed;
      }
    }
    if (Status s = RefreshContacts(db, writer, stamps, accesses); !s.ok()) return s;
    // Also after a refresh that stopped half way.
    if (Status s = index.CreateSecondaryIndexes(); !s.ok()) return s;
    if (bulk) {
      if (Status s = writer.RecountPrograms(); !s.ok()) return s;
    } else if (Status s = writer.DropUnusedPrograms(); !s.ok()) {
      return s;
    }
    Result<IndexStatement> changes = db.Prepare("SELECT COUNT(*) FROM change");
    if (!changes.ok()) return changes.status();
    if (Result<bool> row = changes->Step(); !row.ok()) return row.status();
    if (Status s = index.SetMeta("changes", std::to_string(changes->Integer(0))); !s.ok()) return s;
    if (Status s = index.SetMeta("source", fingerprint); !s.ok()) return s;
    if (Status s = index.SetMeta("source-digest", digest.value()); !s.ok()) return s;
    if (Status s = index.SetMeta("computers", std::to_string(stamps.size())); !s.ok()) return s;
    return index.SetMeta("refreshed", FormatTimeStamp(now));
  });
  if (!settled.ok()) return settled;
  index.ReleaseMemory();
  return report;
}

}  // namespace hostlore
