#include "db/tool/schema_check.h"

#include "db/schema_scripts.h"
#include "db/table_layout.h"

namespace hostlore {
namespace {

// Text of a declared length may be stored in a longer or unlimited column,
// except the drive history, whose declared length the agent keeps to.
bool KindFits(const TableLayout& table, const ColumnLayout& want, const DescribedColumn& have) {
  if (want.kind == ColumnKind::kSpare) return true;
  if (want.kind == ColumnKind::kText && have.kind == ColumnKind::kLongText) {
    return want.name != "DriveHistoryText" || table.name != "DriveHistory";
  }
  return want.kind == have.kind;
}

}  // namespace

Status InitSchema(EngineConnection& connection) {
  return connection.RunScript(std::string(SchemaScript(connection.traits().engine)));
}

std::vector<std::string> CheckSchema(EngineConnection& connection) {
  std::vector<std::string> differences;
  for (const TableLayout& table : AllTableLayouts()) {
    const std::string name(table.name);
    Result<std::vector<DescribedColumn>> described = connection.DescribeTable(name);
    if (!described.ok()) {
      differences.push_back(name + ": cannot be read: " + described.status().description());
      continue;
    }
    const std::vector<DescribedColumn>& columns = described.value();
    for (size_t ordinal = 0; ordinal < table.columns.size(); ++ordinal) {
      const ColumnLayout& want = table.columns[ordinal];
      const std::string where = name + " ordinal " + std::to_string(ordinal) + " (" + std::string(want.name) + ")";
      if (ordinal >= columns.size()) {
        differences.push_back(where + ": missing");
        continue;
      }
      const DescribedColumn& have = columns[ordinal];
      if (!KindFits(table, want, have)) {
        differences.push_back(where + ": should be " + std::string(KindName(want.kind)) + ", is " +
                              have.name + " " + have.type + " (" + std::string(KindName(have.kind)) + ")");
      }
    }
    if (connection.traits().engine == Engine::kSqlServer &&
        (columns.empty() || columns.back().name != "RowId")) {
      differences.push_back(name + ": last column should be RowId, the IDENTITY column that finds rows");
    }
  }
  return differences;
}

}  // namespace hostlore
