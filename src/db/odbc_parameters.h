// The parameters of one ODBC statement execution. Text travels as UTF-16
// for engines that take Unicode parameters, as narrow text otherwise; long
// texts as long-text parameters. Every buffer lives until the object ends,
// so the object must outlive the execution that uses them.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <deque>
#include <string>

#include "db/engine_traits.h"
#include "platform/database/field_value.h"

namespace hostlore {

// Long texts beyond this many characters go as long-text parameters.
inline constexpr SQLULEN kLongTextThreshold = 4000;

class OdbcParameters {
 public:
  explicit OdbcParameters(const EngineTraits& traits) : traits_(traits) {}

  // Binds `value` as the next parameter of `statement`.
  SQLRETURN Bind(SQLHSTMT statement, const FieldValue& value);

  // Row identities and other plain ASCII text.
  SQLRETURN BindNarrow(SQLHSTMT statement, const std::string& text);

 private:
  struct Slot {
    double number = 0;
    int64_t integer = 0;
    std::string text;
    SQLLEN length = 0;
  };

  SQLRETURN BindNarrow(SQLHSTMT statement, SQLUSMALLINT index, Slot& slot, const std::string& text);

  const EngineTraits& traits_;
  int count_ = 0;
  std::deque<Slot> slots_;  // a deque never moves its elements
};

}  // namespace hostlore
