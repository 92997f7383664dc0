// A registry hive file, as BaseRegSaveKey writes it, read with libhivex:
// the keys below its root and their values, raw as the registry stores
// them. The bytes come from the target, so they are untrusted: libhivex
// checks the file's structure, and a file it refuses is a failure.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/network/smb/registry_key_read.h"
#include "platform/status.h"

struct hive_h;

namespace hostlore {

class HiveFile {
 public:
  // The hive in `bytes`. Failure: a file libhivex cannot read.
  static Result<std::unique_ptr<HiveFile>> Parse(std::string_view bytes);
  ~HiveFile();
  HiveFile(const HiveFile&) = delete;
  HiveFile& operator=(const HiveFile&) = delete;

  // The key at `path` below the root ('\'-separated, any case; empty: the
  // root) with every value it has, as a complete KeyRead; a key that is
  // not there reads as not found.
  KeyRead Read(std::string_view path) const;

  // Only Parse makes one.
  class Key {
    friend class HiveFile;
    Key() = default;
  };
  HiveFile(Key, hive_h* hive) : hive_(hive) {}

 private:
  hive_h* hive_;
};

}  // namespace hostlore
