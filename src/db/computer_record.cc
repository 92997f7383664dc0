#include "db/computer_record.h"

#include <algorithm>

#include "db/last_contact.h"
#include "db/table_layout.h"
#include "db/table_queries.h"

namespace hostlore {
namespace {

// The text of column `ordinal` of the current row; nothing for Null or no row.
std::optional<std::string> TextOf(RecordSet& row, int ordinal) {
  Result<FieldValue> value = row.Field(ordinal);
  if (!value.ok() || value->is_null()) return std::nullopt;
  Result<std::string> text = ValueAsText(value.value());
  if (!text.ok()) return std::nullopt;
  return text.value();
}

std::vector<std::string> SplitServices(std::string_view text) {
  std::vector<std::string> names;
  while (!text.empty()) {
    const size_t end = text.find('^');
    if (end != 0) names.emplace_back(text.substr(0, end));
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return names;
}

}  // namespace

ProductFields EntryProductFields(const SoftwareRow& row) { return SplitProductFields(row[3]); }

Result<std::vector<std::string>> ResolveComputerName(InventoryReader& reader, const std::string& name) {
  Result<bool> exact = reader.HasName(name);  // the usual case, answered by the key's index
  if (!exact.ok()) return exact.status();
  if (exact.value()) return std::vector<std::string>{name};
  Result<std::vector<std::string>> found = reader.NamesLike(name);
  if (!found.ok()) return found;
  std::vector<std::string> names = std::move(found).value();
  if (std::find(names.begin(), names.end(), name) != names.end()) return std::vector<std::string>{name};
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
  return names;
}

Result<ComputerRecord> ReadComputerRecord(Database& database, InventoryReader& reader, const std::string& name) {
  ComputerRecord record;
  record.name = name;
  Result<std::unique_ptr<RecordSet>> asset = database.Open(AssetRowQuery(name));
  if (!asset.ok()) return asset.status();
  if (asset.value()->RecordCount() > 0) {
    const size_t columns = FindTableLayout("Asset")->columns.size();
    for (size_t ordinal = 0; ordinal < columns; ++ordinal) {
      Result<FieldValue> value = asset.value()->Field(static_cast<int>(ordinal));
      record.asset.push_back(value.ok() ? value.value() : FieldValue());
    }
    if (const FieldValue& history = record.asset[asset::kHistory]; history.is_text()) {
      record.history = ParseHistory(history.text());
    }
  }
  Result<std::unique_ptr<RecordSet>> software = database.Open(SoftwareRowQuery(name));
  if (!software.ok()) return software.status();
  if (std::optional<std::string> list = TextOf(*software.value(), 1)) {
    record.has_software = true;
    record.software = ParseSoftwareList(*list);
  }
  Result<std::unique_ptr<RecordSet>> services = database.Open(ServicesRowQuery(name));
  if (!services.ok()) return services.status();
  if (std::optional<std::string> list = TextOf(*services.value(), 1)) record.services = SplitServices(*list);
  Status read = reader.ForEachDriveHistory(name, [&](char letter, std::string&& text) {
    for (const DriveHistoryRecord& drive : record.drives) {
      if (drive.letter == letter) return;  // of two rows for one drive, the first
    }
    record.drives.push_back({letter, ParseDriveHistory(text)});
  });
  if (!read.ok()) return read;
  std::sort(record.drives.begin(), record.drives.end(),
            [](const DriveHistoryRecord& a, const DriveHistoryRecord& b) { return a.letter < b.letter; });

  AccessMatcher matcher;
  std::string address;
  if (!record.asset.empty() && record.asset[asset::kIPAddress].is_text()) {
    address = record.asset[asset::kIPAddress].text();
  }
  matcher.AddComputer(0, name, address);
  read = reader.ForEachAccessOf(name, address, [&](InventoryAccess&& access) {
    if (matcher.Match(access.computer)) record.accesses.push_back({access.computer, access.time});
  });
  if (!read.ok()) return read;
  std::stable_partition(record.accesses.begin(), record.accesses.end(),
                        [&](const AccessRecord& access) { return access.name == name; });
  return record;
}

}  // namespace hostlore
