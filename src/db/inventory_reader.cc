#include "db/inventory_reader.h"

#include <algorithm>
#include <map>

#include "db/sql_text.h"
#include "db/table_layout.h"

namespace hostlore {
namespace {

// The quoted names of a table's columns, by ordinal.
Result<std::vector<std::string>> ColumnNames(EngineConnection& connection, std::string_view table) {
  const TableLayout& layout = *FindTableLayout(table);
  Result<std::vector<DescribedColumn>> described = connection.DescribeTable(std::string(table));
  if (!described.ok()) return described.status();
  if (described->size() < layout.columns.size()) {
    return Status::Failure(-1, std::string(table) + " has " + std::to_string(described->size()) +
                                   " columns, the layout " + std::to_string(layout.columns.size()));
  }
  std::vector<std::string> names;
  for (const DescribedColumn& column : described.value()) {
    names.push_back(QuoteName(connection.traits(), column.name));
  }
  return names;
}

std::string Text(const FieldValue& value) {
  if (value.is_null()) return {};
  return ValueAsText(value).value();
}

std::optional<std::string> OptionalText(const FieldValue& value) {
  if (value.is_null()) return std::nullopt;
  return ValueAsText(value).value();
}

std::optional<int64_t> OptionalNumber(const FieldValue& value) {
  Result<double> number = ValueAsNumber(value);
  if (!number.ok()) return std::nullopt;
  return static_cast<int64_t>(number.value());
}

}  // namespace

Result<std::unique_ptr<InventoryReader>> InventoryReader::Open(std::shared_ptr<EngineConnection> connection) {
  std::map<std::string_view, std::vector<std::string>> names;
  for (const std::string_view table : {"Asset", "Software", "LastAccess", "DriveHistory"}) {
    Result<std::vector<std::string>> columns = ColumnNames(*connection, table);
    if (!columns.ok()) return columns.status();
    names[table] = std::move(columns).value();
  }
  const std::vector<std::string>& a = names["Asset"];
  const std::vector<std::string>& s = names["Software"];
  const std::vector<std::string>& l = names["LastAccess"];
  const std::vector<std::string>& d = names["DriveHistory"];
  std::unique_ptr<InventoryReader> reader(new InventoryReader(std::move(connection)));
  reader->stamp_sql_ = "SELECT " + a[asset::kComputer] + ", " + a[asset::kLastScanned] + ", " +
                       a[asset::kIPAddress] + " FROM Asset";
  reader->access_sql_ = "SELECT " + l[0] + ", " + l[1] + " FROM LastAccess";
  if (const std::string_view digest = reader->connection_->traits().rows_digest; !digest.empty()) {
    // One text per row, as the rows' own fingerprint takes them: a Null
    // time reads "-", any other "+" and the time. (Only PostgreSQL
    // computes a digest, so the concatenation is its ||.)
    const auto text = [](const std::string& column) { return "COALESCE(" + column + ", '')"; };
    const auto time = [](const std::string& column) { return "COALESCE('+' || " + column + ", '-')"; };
    const auto of_rows = [&](const std::string& row, const std::string& table) {
      std::string aggregate(digest);
      aggregate.replace(aggregate.find("%s"), 2, row);
      return "(SELECT COALESCE(" + aggregate + ", '') FROM " + table + ")";
    };
    reader->digest_sql_ =
        "SELECT " +
        of_rows(text(a[asset::kComputer]) + " || '|' || " + time(a[asset::kLastScanned]) + " || '|' || " +
                    text(a[asset::kIPAddress]),
                "Asset") +
        " || ':' || " + of_rows(text(l[0]) + " || '|' || " + time(l[1]), "LastAccess");
  }
  std::string markers;
  for (size_t i = 0; i < kSummaryBatch; ++i) markers += i == 0 ? "?" : ", ?";
  reader->summary_sql_ = "SELECT ";
  for (const int ordinal : {asset::kComputer, asset::kLastScanned, asset::kIPAddress, asset::kOperatingSystem,
                            asset::kServicePack, asset::kDomain, asset::kLoggedOnUser, asset::kManufacturer,
                            asset::kModel, asset::kTotalPhysicalMemory, asset::kHistory}) {
    reader->summary_sql_ += "a." + a[static_cast<size_t>(ordinal)] + ", ";
  }
  reader->summary_sql_ += "s." + s[1] + " FROM Asset a LEFT JOIN Software s ON s." + s[0] + " = a." +
                          a[asset::kComputer] + " WHERE a." + a[asset::kComputer] + " IN (" + markers + ")";
  reader->names_like_sql_ = "SELECT " + a[asset::kComputer] + " FROM Asset WHERE LOWER(" +
                            a[asset::kComputer] + ") = LOWER(?) UNION SELECT " + l[0] +
                            " FROM LastAccess WHERE LOWER(" + l[0] + ") = LOWER(?)";
  reader->has_name_sql_ = "SELECT " + a[asset::kComputer] + " FROM Asset WHERE " + a[asset::kComputer] +
                          " = ? UNION ALL SELECT " + l[0] + " FROM LastAccess WHERE " + l[0] + " = ?";
  reader->accesses_of_sql_ = "SELECT " + l[0] + ", " + l[1] + " FROM LastAccess WHERE LOWER(" + l[0] +
                             ") = LOWER(?) OR " + l[0] + " = ? OR LOWER(" + l[0] + ") LIKE LOWER(?) ESCAPE '!'";
  reader->drive_history_sql_ = "SELECT " + d[0] + ", " + d[1] + " FROM DriveHistory WHERE " + d[0] + " IN (" +
                               "?, ?, ?, ?, ?, ?, ?, ?)";  // C: to J:
  return reader;
}

Status InventoryReader::ForEachStamp(const std::function<void(InventoryStamp&&)>& each) {
  return connection_->SelectRows(stamp_sql_, {}, [&](std::vector<FieldValue>& row) {
    if (!row[0].is_null()) each({Text(row[0]), OptionalText(row[1]), Text(row[2])});
    return true;
  });
}

Status InventoryReader::ForEachAccess(const std::function<void(InventoryAccess&&)>& each) {
  return connection_->SelectRows(access_sql_, {}, [&](std::vector<FieldValue>& row) {
    if (!row[0].is_null()) each({Text(row[0]), OptionalText(row[1])});
    return true;
  });
}

Result<std::string> InventoryReader::SourceDigest() {
  if (digest_sql_.empty()) return std::string();
  std::string digest;
  const Status read = connection_->SelectRows(digest_sql_, {}, [&](std::vector<FieldValue>& row) {
    digest = Text(row[0]);
    return false;
  });
  if (!read.ok()) return read;
  return digest;
}

Status InventoryReader::ReadSummaries(const std::vector<std::string>& names,
                                      const std::function<void(InventorySummary&&)>& each) {
  if (names.empty()) return Status::Ok();
  // Always all markers, so that one prepared statement serves every batch.
  std::vector<FieldValue> parameters;
  for (size_t i = 0; i < kSummaryBatch; ++i) parameters.emplace_back(names[std::min(i, names.size() - 1)]);
  return connection_->SelectRows(summary_sql_, parameters, [&](std::vector<FieldValue>& row) {
    InventorySummary summary;
    summary.computer = Text(row[0]);
    summary.last_inventory = OptionalText(row[1]);
    summary.address = Text(row[2]);
    summary.operating_system = Text(row[3]);
    summary.service_pack = Text(row[4]);
    summary.domain = Text(row[5]);
    summary.user = Text(row[6]);
    summary.manufacturer = Text(row[7]);
    summary.model = Text(row[8]);
    summary.memory_mb = OptionalNumber(row[9]);
    summary.history = Text(row[10]);
    summary.software = OptionalText(row[11]);
    each(std::move(summary));
    return true;
  });
}

Result<bool> InventoryReader::HasName(const std::string& name) {
  bool found = false;
  const Status read = connection_->SelectRows(has_name_sql_, {FieldValue(name), FieldValue(name)},
                                              [&](std::vector<FieldValue>&) {
                                                found = true;
                                                return false;
                                              });
  if (!read.ok()) return read;
  return found;
}

Status InventoryReader::ForEachAccessOf(const std::string& name, const std::string& address,
                                        const std::function<void(InventoryAccess&&)>& each) {
  // LIKE's own marks in the name are taken as they are.
  std::string pattern;
  for (const char c : name) {
    if (c == '%' || c == '_' || c == '!') pattern += '!';
    pattern += c;
  }
  return connection_->SelectRows(accesses_of_sql_, {FieldValue(name), FieldValue(address), FieldValue(pattern + ".%")},
                                 [&](std::vector<FieldValue>& row) {
                                   if (!row[0].is_null()) each({Text(row[0]), OptionalText(row[1])});
                                   return true;
                                 });
}

Status InventoryReader::ForEachDriveHistory(const std::string& name,
                                            const std::function<void(char, std::string&&)>& each) {
  std::vector<FieldValue> keys;
  for (char letter = 'C'; letter <= 'J'; ++letter) keys.emplace_back(name + "~" + letter);
  return connection_->SelectRows(drive_history_sql_, keys, [&](std::vector<FieldValue>& row) {
    const std::string key = Text(row[0]);
    if (key.size() == name.size() + 2 && !row[1].is_null()) each(key.back(), Text(row[1]));
    return true;
  });
}

Result<std::vector<std::string>> InventoryReader::NamesLike(const std::string& name) {
  std::vector<std::string> found;
  const Status read = connection_->SelectRows(names_like_sql_, {FieldValue(name), FieldValue(name)},
                                              [&](std::vector<FieldValue>& row) {
                                                if (!row[0].is_null()) found.push_back(Text(row[0]));
                                                return true;
                                              });
  if (!read.ok()) return read;
  return found;
}

}  // namespace hostlore
