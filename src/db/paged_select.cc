#include "db/paged_select.h"

namespace hostlore {

Result<int64_t> CountRows(IndexDb& index, const std::string& sql, const QueryValues& values) {
  Result<IndexStatement> count = index.Prepare(sql);
  if (!count.ok()) return count.status();
  for (size_t i = 0; i < values.size(); ++i) count->Bind(static_cast<int>(i) + 1, values[i]);
  if (Result<bool> row = count->Step(); !row.ok()) return row.status();
  return count->Integer(0);
}

Status SelectPage(IndexDb& index, const std::string& sql, const StaleRule& stale, const QueryValues& values,
                  QueryPage page, const std::function<void(const IndexStatement&)>& row) {
  Result<IndexStatement> select = index.Prepare(sql);
  if (!select.ok()) return select.status();
  int marker = 1;
  select->Bind(marker++, std::string_view(stale.before));
  for (const std::optional<std::string>& value : values) select->Bind(marker++, value);
  select->Bind(marker, page.limit).Bind(marker + 1, page.offset);
  for (;;) {
    Result<bool> stepped = select->Step();
    if (!stepped.ok()) return stepped.status();
    if (!stepped.value()) return Status::Ok();
    row(select.value());
  }
}

}  // namespace hostlore
