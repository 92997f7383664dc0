// Failures as values: every seam call answers with a Status or a Result<T>.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

namespace hostlore {

// Well-known failure numbers. Registry and service failures keep the Win32
// system error codes that the remote side reports, so that the collectors can
// tell "not found" from "access denied" from "no more items".
namespace win32 {
inline constexpr int64_t kInvalidFunction = 1;
inline constexpr int64_t kFileNotFound = 2;
inline constexpr int64_t kAccessDenied = 5;
inline constexpr int64_t kNotSupported = 50;
inline constexpr int64_t kBadNetPath = 53;
inline constexpr int64_t kInvalidParameter = 87;
inline constexpr int64_t kPipeBusy = 231;  // also: the pipe is not available yet
inline constexpr int64_t kMoreData = 234;
inline constexpr int64_t kNoMoreItems = 259;
inline constexpr int64_t kServiceRequestTimeout = 1053;
inline constexpr int64_t kServiceAlreadyRunning = 1056;
inline constexpr int64_t kServiceDisabled = 1058;
inline constexpr int64_t kServiceDoesNotExist = 1060;
inline constexpr int64_t kServiceCannotAcceptControl = 1061;
inline constexpr int64_t kServiceNotActive = 1062;
inline constexpr int64_t kRpcServerUnavailable = 1722;
}  // namespace win32

// "Object not set": a call through an absent object (WMI).
inline constexpr int64_t kObjectNotSet = 91;

class Status {
 public:
  Status() = default;  // success
  static Status Ok() { return Status(); }
  static Status Failure(int64_t number, std::string description) {
    Status s;
    s.failed_ = true;
    s.number_ = number;
    s.description_ = std::move(description);
    return s;
  }

  bool ok() const { return !failed_; }
  // The failure number (a Win32 code, an HRESULT, or kObjectNotSet); 0 on success.
  int64_t number() const { return number_; }
  // A description a person can read; empty on success.
  const std::string& description() const { return description_; }

 private:
  bool failed_ = false;
  int64_t number_ = 0;
  std::string description_;
};

// A value on success, a failure Status otherwise. The value is only meaningful
// when ok().
template <typename T>
class Result {
 public:
  Result(T value) : value_(std::move(value)) {}  // NOLINT: implicit on purpose
  Result(Status failure) : status_(std::move(failure)) {}  // NOLINT

  bool ok() const { return status_.ok(); }
  const Status& status() const { return status_; }
  T& value() & { return value_; }
  const T& value() const& { return value_; }
  T&& value() && { return std::move(value_); }
  T* operator->() { return &value_; }
  const T* operator->() const { return &value_; }

 private:
  Status status_;
  T value_{};
};

}  // namespace hostlore
