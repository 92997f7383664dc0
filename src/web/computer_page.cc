#include "db/cached_record_set.h"
#include "db/change_kind.h"
#include "db/computer_record.h"
#include "db/last_contact.h"
#include "db/table_layout.h"
#include "web/list_page.h"
#include "web/pages.h"
#include "web/svg_chart.h"

namespace hostlore {
namespace {

constexpr std::string_view kLists[] = {"fields", "drives", "software", "services", "changes", "drive-history",
                                       "access"};

std::string ValueText(const FieldValue& value) { return value.is_null() ? std::string() : ValueAsText(value).value(); }

AnswerCell ValueCell(const FieldValue& value) {
  if (value.is_null()) return std::monostate();
  if (value.is_integer()) return value.integer();
  return ValueAsText(value).value();
}

bool IsDriveColumn(size_t ordinal) {
  return ordinal >= static_cast<size_t>(asset::kFirstDriveSlot) && ordinal < static_cast<size_t>(asset::kFirstDriveSlot) + 60;
}

// Every list of the page as a table, for CSV and JSON.
AnswerTable ListTable(const ComputerRecord& record, std::string_view list) {
  AnswerTable table;
  const TableLayout& layout = *FindTableLayout("Asset");
  if (list == "fields") {
    table.columns = {"field", "value", "pinned"};
    for (size_t ordinal = 0; ordinal < record.asset.size(); ++ordinal) {
      const ColumnLayout& column = layout.columns[ordinal];
      if (column.kind == ColumnKind::kSpare || ordinal == static_cast<size_t>(asset::kHistory) || IsDriveColumn(ordinal)) continue;
      table.rows.push_back({std::string(column.name), ValueCell(record.asset[ordinal]), IsPinned(record.asset[ordinal])});
    }
  } else if (list == "drives") {
    table.columns = {"drive", "caption", "size_mb", "free_mb", "volume_name", "file_system", "volume_serial"};
    for (char letter = 'A'; !record.asset.empty() && letter <= 'J'; ++letter) {
      const auto slot = static_cast<size_t>(asset::DriveSlot(letter));
      if (record.asset[slot].is_null()) continue;
      std::vector<AnswerCell> row{std::string(1, letter)};
      for (size_t offset = 0; offset < 6; ++offset) row.push_back(ValueCell(record.asset[slot + offset]));
      table.rows.push_back(std::move(row));
    }
  } else if (list == "software") {
    table.columns = {"program", "version", "location", "product_id", "company", "owner"};
    for (const SoftwareRow& row : record.software.rows) {
      const ProductFields product = EntryProductFields(row);
      table.rows.push_back({row[0], row[1], row[2], product.product_id, product.company, product.owner});
    }
  } else if (list == "services") {
    table.columns = {"service"};
    for (const std::string& name : record.services) table.rows.push_back({name});
  } else if (list == "changes") {
    table.columns = {"time", "kind", "subject", "message"};
    for (auto it = record.history.rbegin(); it != record.history.rend(); ++it) {
      const ChangeReading change = ReadChange(it->message);
      table.rows.push_back({it->time, std::string(ChangeKindName(change.kind)), change.subject, it->message});
    }
  } else if (list == "drive-history") {
    table.columns = {"drive", "date", "free_mb"};
    for (const DriveHistoryRecord& drive : record.drives) {
      for (const DriveDay& day : drive.days) table.rows.push_back({std::string(1, drive.letter), day.date, day.free_text});
    }
  } else {
    table.columns = {"name", "time"};
    for (const AccessRecord& access : record.accesses) {
      table.rows.push_back({access.name, access.time ? AnswerCell(*access.time) : AnswerCell(std::monostate())});
    }
  }
  return table;
}

std::string TableHtml(const AnswerTable& table, const std::vector<std::string>& headings, bool filterable) {
  std::vector<std::string> header;
  for (const std::string& heading : headings) header.push_back(Html(heading));
  std::string html = TableStart("record", header, filterable);
  for (const std::vector<AnswerCell>& row : table.rows) {
    html += "<tr>";
    for (const AnswerCell& cell : row) {
      std::string text;
      if (const auto* value = std::get_if<std::string>(&cell)) text = Html(*value);
      else if (const auto* number = std::get_if<int64_t>(&cell)) text = std::to_string(*number);
      else if (const auto* flag = std::get_if<bool>(&cell)) text = *flag ? "pinned" : "";
      html += "<td>" + text + "</td>";
    }
    html += "</tr>\n";
  }
  return html + TableEnd();
}

std::string Section(const std::string& id, const std::string& heading, const std::string& name, const std::string& content) {
  return "<section id=\"" + id + "\"><h2>" + Html(heading) + "</h2>" + content + "<p class=\"export\">" +
         Link("/computer", {{"name", name}, {"list", id}, {"format", "csv"}}, "CSV") + "</p></section>\n";
}

std::string Timeline(const ComputerRecord& record, const std::optional<ChangeKind>& kind) {
  std::string html = "<p class=\"kinds\">Show: " + Link("/computer", {{"name", record.name}}, "all");
  for (const ChangeKind each : {ChangeKind::kHardware, ChangeKind::kDrive, ChangeKind::kInstalled,
                                ChangeKind::kRemoved, ChangeKind::kSoftware, ChangeKind::kNewRecord}) {
    html += " · " + Link("/computer", {{"name", record.name}, {"kind", std::string(ChangeKindName(each))}},
                         std::string(ChangeKindName(each)));
  }
  html += "</p>" + TableStart("timeline", {"Time", "Kind", "Change"});
  for (auto it = record.history.rbegin(); it != record.history.rend(); ++it) {
    const ChangeReading change = ReadChange(it->message);
    if (kind && change.kind != *kind) continue;
    html += "<tr><td>" + Html(it->time) + "</td><td>" + Html(ChangeKindName(change.kind)) + "</td><td>" +
            Html(it->message) + "</td></tr>\n";
  }
  return html + TableEnd();
}

}  // namespace

WebReply ServeComputer(const QueryParams& query, PageContext& context) {
  RequestParams params(query, {"name", "kind", "list", "format"});
  const ReplyFormat format = ReadFormat(params);
  const std::optional<std::string> name = params.Text("name");
  std::optional<ChangeKind> kind;
  if (std::optional<std::string> text = params.Text("kind")) {
    kind = ChangeKindFromName(*text);
    if (!kind) return BadRequest("parameter \"kind\" takes new, hardware, drive, installed, removed, software or other", format);
  }
  const std::optional<size_t> list = params.Choice("list", std::vector<std::string_view>(std::begin(kLists), std::end(kLists)));
  if (!params.ok()) return BadRequest(params.error(), format);
  if (!name) return BadRequest("parameter \"name\" is needed: the computer to show", format);

  Result<std::unique_ptr<InventoryLease>> lease = context.inventory();
  if (!lease.ok()) return Unavailable("the inventory cannot be read: " + lease.status().description(), format);
  InventoryReader& reader = lease.value()->reader();
  Result<std::vector<std::string>> names = ResolveComputerName(reader, *name);
  if (!names.ok()) {
    lease.value()->Discard();
    return Unavailable("the inventory cannot be read: " + names.status().description(), format);
  }
  if (names->size() != 1) {
    std::string message = names->empty() ? "No computer is named " + *name : *name + " names several computers:";
    if (format != ReplyFormat::kHtml || names->empty()) return NotFound(message, format);
    WebReply reply = NotFound(message, format);
    std::string links = "<ul>";
    for (const std::string& each : names.value()) links += "<li>" + ComputerCell(each, false) + "</li>";
    reply.body = RenderPage({"Not found", "", "<p class=\"error\">" + Html(message) + "</p>" + links + "</ul>", Footer(context)});
    return reply;
  }
  std::unique_ptr<Database> database = NewEngineDatabase(reader.shared_connection());
  Result<ComputerRecord> found = ReadComputerRecord(*database, reader, names->front());
  if (!found.ok()) {
    lease.value()->Discard();
    return Unavailable("the inventory cannot be read: " + found.status().description(), format);
  }
  const ComputerRecord& record = found.value();

  std::optional<std::string> last_inventory, last_answer;
  if (!record.asset.empty() && !record.asset[asset::kLastScanned].is_null()) last_inventory = ValueText(record.asset[asset::kLastScanned]);
  for (const AccessRecord& access : record.accesses) {
    if (access.time && (!last_answer || *access.time > *last_answer)) last_answer = access.time;
  }
  const std::optional<std::string> contact = LastContact(last_inventory, last_answer);
  const bool stale = !contact || *contact < context.stale.before;
  const ContactOutcome outcome = OutcomeOf(last_inventory, last_answer);

  if (format == ReplyFormat::kCsv) {
    const std::string_view chosen = kLists[list.value_or(0)];
    return CsvReply("computer-" + std::string(chosen) + ".csv", ListTable(record, chosen));
  }
  if (format == ReplyFormat::kJson) {
    nlohmann::ordered_json json;
    json["name"] = record.name;
    json["last_contact"] = contact ? nlohmann::ordered_json(*contact) : nlohmann::ordered_json();
    json["outcome"] = std::string(OutcomeName(outcome));
    json["stale"] = stale;
    for (const std::string_view each : kLists) json[std::string(each)] = JsonRows(ListTable(record, each));
    return JsonReply(json);
  }

  const auto field = [&](int ordinal) { return record.asset.empty() ? std::string() : ValueText(record.asset[static_cast<size_t>(ordinal)]); };
  std::string body = "<dl class=\"summary\">";
  body += "<dt>Address</dt><dd>" + Html(field(asset::kIPAddress)) + "</dd>";
  body += "<dt>Operating system</dt><dd>" + Html(field(asset::kOperatingSystem)) + " " + Html(field(asset::kServicePack)) + "</dd>";
  body += "<dt>Domain</dt><dd>" + Html(field(asset::kDomain)) + "</dd>";
  body += "<dt>User</dt><dd>" + Html(field(asset::kLoggedOnUser)) + "</dd>";
  body += "<dt>Memory</dt><dd>" + Html(field(asset::kTotalPhysicalMemory)) + " MB</dd>";
  body += "<dt>Last contact</dt><dd>" + TimeCell(contact) + (stale ? " <span class=\"tag\">stale</span>" : "") + "</dd>";
  body += "<dt>Contact</dt><dd>" + Html(OutcomeLabel(outcome)) + "</dd>";
  body += "<dt>Last inventory</dt><dd>" + TimeCell(last_inventory) + "</dd></dl>\n";
  body += "<nav class=\"sections\"><a href=\"#changes\">Changes</a> · <a href=\"#drives\">Drives</a> · "
          "<a href=\"#software\">Software</a> · <a href=\"#services\">Services</a> · <a href=\"#fields\">Inventory</a> · "
          "<a href=\"#access\">Last access</a></nav>\n";
  body += Section("changes", "Changes", record.name, Timeline(record, kind));
  std::string drives = TableHtml(ListTable(record, "drives"), {"Drive", "Caption", "Size (MB)", "Free (MB)", "Volume", "File system", "Serial"}, false);
  for (const DriveHistoryRecord& drive : record.drives) {
    const std::string label = std::string("Free space of drive ") + drive.letter + ": over time (MB)";
    drives += "<figure><figcaption>" + Html(label) + "</figcaption>" + FreeSpaceChart(drive.days, label) + "</figure>\n";
  }
  body += Section("drives", "Drives", record.name, drives);
  std::string software = TableHtml(ListTable(record, "software"), {"Program", "Version", "Location", "Product ID", "Company", "Owner"}, true);
  if (!record.software.complete) software += "<p class=\"note\">An empty entry ends the stored list: what follows it is not read.</p>";
  body += Section("software", "Software (" + std::to_string(record.software.rows.size()) + ")", record.name, software);
  body += Section("services", "Services (" + std::to_string(record.services.size()) + ")", record.name,
                  TableHtml(ListTable(record, "services"), {"Service"}, true));
  body += Section("fields", "Inventory", record.name, TableHtml(ListTable(record, "fields"), {"Field", "Value", ""}, true));
  body += Section("access", "Last access", record.name, TableHtml(ListTable(record, "access"), {"Name given", "Time"}, false));
  body += "<p class=\"export\">Everything as " + Link("/computer", {{"name", record.name}, {"format", "json"}}, "JSON") + "</p>";
  return {200, "text/html; charset=utf-8", RenderPage({record.name, "computers", body, Footer(context)}), {}, {}};
}

}  // namespace hostlore
