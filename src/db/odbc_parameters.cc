#include "db/odbc_parameters.h"

#include "util/utf16.h"

namespace hostlore {

SQLRETURN OdbcParameters::Bind(SQLHSTMT statement, const FieldValue& value) {
  const auto index = static_cast<SQLUSMALLINT>(++count_);
  Slot& slot = slots_.emplace_back();
  if (value.is_double()) {
    slot.number = value.real();
    return SQLBindParameter(statement, index, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 15, 0,
                            &slot.number, 0, nullptr);
  }
  if (value.is_integer()) {
    slot.integer = value.integer();
    return SQLBindParameter(statement, index, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 19, 0,
                            &slot.integer, 0, nullptr);
  }
  const std::string& text = value.is_text() ? value.text() : slot.text;
  if (!traits_.unicode_text_parameters) return BindNarrow(statement, index, slot, text);
  slot.text = Utf8ToUtf16LeBytes(text);
  slot.text.append(2, '\0');
  slot.length = static_cast<SQLLEN>(slot.text.size() - 2);
  const SQLULEN characters = slot.text.size() / 2 > 0 ? slot.text.size() / 2 - 1 : 0;
  const SQLSMALLINT sql_type = characters > kLongTextThreshold ? SQL_WLONGVARCHAR : SQL_WVARCHAR;
  return SQLBindParameter(statement, index, SQL_PARAM_INPUT, SQL_C_WCHAR, sql_type,
                          characters == 0 ? 1 : characters, 0, slot.text.data(),
                          static_cast<SQLLEN>(slot.text.size()), &slot.length);
}

SQLRETURN OdbcParameters::BindNarrow(SQLHSTMT statement, const std::string& text) {
  const auto index = static_cast<SQLUSMALLINT>(++count_);
  return BindNarrow(statement, index, slots_.emplace_back(), text);
}

SQLRETURN OdbcParameters::BindNarrow(SQLHSTMT statement, SQLUSMALLINT index, Slot& slot,
                                     const std::string& text) {
  slot.text = text;
  slot.text.push_back('\0');
  slot.length = static_cast<SQLLEN>(text.size());
  return SQLBindParameter(statement, index, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR,
                          text.empty() ? 1 : text.size(), 0, slot.text.data(),
                          static_cast<SQLLEN>(slot.text.size()), &slot.length);
}

}  // namespace hostlore
