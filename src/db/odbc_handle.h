// RAII for ODBC handles and the text of their diagnostics.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>

#include "platform/status.h"

namespace hostlore {

class OdbcHandle {
 public:
  OdbcHandle() = default;
  OdbcHandle(SQLSMALLINT type, SQLHANDLE handle) : type_(type), handle_(handle) {}
  OdbcHandle(const OdbcHandle&) = delete;
  OdbcHandle& operator=(const OdbcHandle&) = delete;
  OdbcHandle(OdbcHandle&& other) noexcept : type_(other.type_), handle_(other.handle_) {
    other.handle_ = SQL_NULL_HANDLE;
  }
  OdbcHandle& operator=(OdbcHandle&& other) noexcept;
  ~OdbcHandle();

  // Allocates a handle of `type` under `parent`. Failure: the driver manager
  // refused (out of memory, bad parent).
  static Result<OdbcHandle> Allocate(SQLSMALLINT type, SQLHANDLE parent);

  SQLHANDLE get() const { return handle_; }
  SQLSMALLINT type() const { return type_; }

 private:
  SQLSMALLINT type_ = 0;
  SQLHANDLE handle_ = SQL_NULL_HANDLE;
};

// A failure Status from the diagnostics of `handle`: "[SQLSTATE] message",
// several records joined by blanks; the number is the first native error.
Status OdbcFailure(SQLSMALLINT type, SQLHANDLE handle, std::string_view fallback);
inline Status OdbcFailure(const OdbcHandle& handle, std::string_view fallback) {
  return OdbcFailure(handle.type(), handle.get(), fallback);
}

inline bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

}  // namespace hostlore
