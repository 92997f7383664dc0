// An owned handle on a shared object loaded at run time (dlopen).
#pragma once

#include <string>
#include <utility>

#include "platform/status.h"

namespace hostlore {

class SharedLibrary {
 public:
  SharedLibrary() = default;
  SharedLibrary(SharedLibrary&& other) noexcept : handle_(std::exchange(other.handle_, nullptr)) {}
  SharedLibrary& operator=(SharedLibrary&& other) noexcept;
  SharedLibrary(const SharedLibrary&) = delete;
  SharedLibrary& operator=(const SharedLibrary&) = delete;
  ~SharedLibrary();

  // Loads `path` with every symbol bound at once, so that a library with
  // unresolved symbols fails here rather than at its first call. The code
  // stays mapped for the life of the process, even after the handle closes:
  // objects made by the library may outlive the handle, and the libraries it
  // pulls in (Samba's, GnuTLS) are not made to be unloaded.
  // Failure: the loader's own description (missing file, not an ELF object,
  // missing dependency or symbol).
  static Result<SharedLibrary> Open(const std::string& path);

  // The address of the exported symbol `name`; nullptr: not exported.
  void* Symbol(const char* name) const;

 private:
  explicit SharedLibrary(void* handle) : handle_(handle) {}
  void* handle_ = nullptr;
};

}  // namespace hostlore
