#include "db/odbc_handle.h"

namespace hostlore {

OdbcHandle& OdbcHandle::operator=(OdbcHandle&& other) noexcept {
  if (this != &other) {
    if (handle_ != SQL_NULL_HANDLE) SQLFreeHandle(type_, handle_);
    type_ = other.type_;
    handle_ = other.handle_;
    other.handle_ = SQL_NULL_HANDLE;
  }
  return *this;
}

OdbcHandle::~OdbcHandle() {
  if (handle_ == SQL_NULL_HANDLE) return;
  if (type_ == SQL_HANDLE_DBC) SQLDisconnect(handle_);
  SQLFreeHandle(type_, handle_);
}

Result<OdbcHandle> OdbcHandle::Allocate(SQLSMALLINT type, SQLHANDLE parent) {
  SQLHANDLE handle = SQL_NULL_HANDLE;
  if (!Succeeded(SQLAllocHandle(type, parent, &handle))) {
    return Status::Failure(-1, "ODBC handle could not be allocated");
  }
  return OdbcHandle(type, handle);
}

Status OdbcFailure(SQLSMALLINT type, SQLHANDLE handle, std::string_view fallback) {
  std::string text;
  int64_t number = 0;
  for (SQLSMALLINT record = 1;; ++record) {
    SQLCHAR state[6] = {};
    SQLINTEGER native = 0;
    SQLCHAR message[1024] = {};
    SQLSMALLINT length = 0;
    const SQLRETURN rc = SQLGetDiagRec(type, handle, record, state, &native, message,
                                       sizeof message, &length);
    if (!Succeeded(rc)) break;
    if (record == 1) number = native;
    if (!text.empty()) text += ' ';
    text += "[";
    text += reinterpret_cast<const char*>(state);
    text += "] ";
    text += reinterpret_cast<const char*>(message);
  }
  if (text.empty()) text = std::string(fallback);
  return Status::Failure(number == 0 ? -1 : number, text);
}

}  // namespace hostlore
