#include "db/software_search.h"

#include "db/paged_select.h"
#include "util/text.h"

namespace hostlore {
Result<ProgramPage> SearchPrograms(IndexDb& index, std::string_view text, QueryPage page,
                                   const std::function<void(ProgramSummary&&)>& each) {
  const std::string folded = FoldCase(text);
  ProgramPage result;
  if (page.count) {
    Result<int64_t> total = CountRows(index, "SELECT COUNT(*) FROM program WHERE instr(folded, ?) > 0", {folded});
    if (!total.ok()) return total.status();
    result.total = total.value();
  }

  Result<IndexStatement> programs = index.Prepare(
      "SELECT id, name, computers FROM program WHERE instr(folded, ?) > 0 ORDER BY folded, name LIMIT ? OFFSET ?");
  Result<IndexStatement> versions = index.Prepare(
      "SELECT version, computers FROM program_version WHERE program = ? ORDER BY computers DESC, version");
  if (!programs.ok()) return programs.status();
  if (!versions.ok()) return versions.status();
  programs->Bind(1, std::string_view(folded)).Bind(2, page.limit).Bind(3, page.offset);
  for (;;) {
    Result<bool> row = programs->Step();
    if (!row.ok()) return row.status();
    if (!row.value()) break;
    ProgramSummary program{programs->Text(1), programs->Integer(2), {}};
    versions->Bind(1, programs->Integer(0));
    for (;;) {
      Result<bool> version = versions->Step();
      if (!version.ok()) return version.status();
      if (!version.value()) break;
      program.versions.push_back({versions->Text(0), versions->Integer(1)});
    }
    versions->Reset();
    if (each) each(std::move(program));
    else result.programs.push_back(std::move(program));
  }
  return result;
}

Result<InstallationPage> ListInstallations(IndexDb& index, const InstallationFilter& filter,
                                           const StaleRule& stale, QueryPage page,
                                           const std::function<void(InstallationRow&&)>& each) {
  std::string where = filter.program ? " WHERE p.name = ?" : " WHERE instr(p.folded, ?) > 0";
  QueryValues values{filter.program ? *filter.program : FoldCase(filter.text)};
  if (filter.version) {
    where += " AND i.version = ?";
    values.push_back(*filter.version);
  }
  // CROSS JOIN keeps SQLite to this order: the few matching programs first,
  // then their installations through the index by program.
  const std::string programs = " FROM program p CROSS JOIN installation i ON i.program = p.id";
  const std::string from = programs + " CROSS JOIN computer c ON c.id = i.computer";
  InstallationPage result;
  if (page.count) {
    Result<int64_t> total = CountRows(index, "SELECT COUNT(*)" + programs + where, values);
    if (!total.ok()) return total.status();
    result.total = total.value();
  }

  const Status selected = SelectPage(
      index,
      "SELECT p.name, i.version, c.name, c.last_contact, (c.last_contact IS NULL OR c.last_contact < ?)" + from +
          where + " ORDER BY p.folded, p.name, i.version, c.folded, c.name LIMIT ? OFFSET ?",
      stale, values, page, [&](const IndexStatement& select) {
        InstallationRow installation{select.Text(0), select.Text(1), select.Text(2), select.OptionalText(3),
                                     select.Integer(4) != 0};
        if (each) each(std::move(installation));
        else result.rows.push_back(std::move(installation));
      });
  if (!selected.ok()) return selected;
  return result;
}

AnswerTable ProgramTable(const std::vector<ProgramSummary>& programs) {
  AnswerTable table{{"program", "version", "computers"}, {}};
  for (const ProgramSummary& program : programs) {
    for (const VersionCount& version : program.versions) {
      table.rows.push_back({program.name, version.version, version.computers});
    }
  }
  return table;
}

AnswerTable InstallationTable(const std::vector<InstallationRow>& rows) {
  AnswerTable table{{"program", "version", "computer", "last_contact", "stale"}, {}};
  for (const InstallationRow& row : rows) {
    AnswerCell contact = std::monostate();
    if (row.last_contact) contact = *row.last_contact;
    table.rows.push_back({row.program, row.version, row.computer, contact, row.stale});
  }
  return table;
}

}  // namespace hostlore
