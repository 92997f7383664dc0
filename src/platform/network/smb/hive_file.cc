#include "platform/network/smb/hive_file.h"

#include <hivex.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/network/rpc/win32_failure.h"
#include "util/unique_fd.h"

namespace hostlore {
namespace {

struct FreeDeleter {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using Malloced = std::unique_ptr<T, FreeDeleter>;

}  // namespace

Result<std::unique_ptr<HiveFile>> HiveFile::Parse(std::string_view bytes) {
  // libhivex reads files: the bytes go to a file that lives in memory only
  // and is gone with its descriptor.
  const UniqueFd file(::memfd_create("hostlore-hive", MFD_CLOEXEC));
  if (!file.valid()) return Status::Failure(errno, std::string("memfd: ") + std::strerror(errno));
  if (const int error = WriteAll(file.get(), bytes); error != 0) {
    return Status::Failure(error, std::string("hive file: ") + std::strerror(error));
  }
  const std::string path = "/proc/self/fd/" + std::to_string(file.get());
  errno = 0;
  hive_h* hive = hivex_open(path.c_str(), 0);
  if (hive == nullptr) {
    const int error = errno != 0 ? errno : EINVAL;
    return Status::Failure(error, std::string("not a hive file libhivex can read: ") +
                                      std::strerror(error));
  }
  return std::make_unique<HiveFile>(Key{}, hive);
}

HiveFile::~HiveFile() { hivex_close(hive_); }

KeyRead HiveFile::Read(std::string_view path) const {
  KeyRead read;
  read.fetched = true;
  read.complete = true;
  hive_node_h node = hivex_root(hive_);
  while (node != 0 && !path.empty()) {
    const size_t slash = path.find('\\');
    const std::string name(path.substr(0, slash));
    path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
    node = hivex_node_get_child(hive_, node, name.c_str());
  }
  if (node == 0) {
    read.opened = Win32Failure(win32::kFileNotFound, "registry key");
    return read;
  }
  Malloced<hive_value_h> values(hivex_node_values(hive_, node));
  for (size_t i = 0; values && values.get()[i] != 0; ++i) {
    const hive_value_h value = values.get()[i];
    Malloced<char> name(hivex_value_key(hive_, value));
    hive_type type{};
    size_t length = 0;
    Malloced<char> data(hivex_value_value(hive_, value, &type, &length));
    if (!name || !data) continue;
    // libhivex stores the file's type number as it stands, which need not
    // be one of hive_type's values: copy its bytes, never load the enum.
    static_assert(sizeof(hive_type) == sizeof(uint32_t));
    uint32_t raw_type = 0;
    std::memcpy(&raw_type, &type, sizeof raw_type);
    read.values.insert_or_assign(LowerRegistryName(name.get()),
                                 RegistryValue{raw_type, std::string(data.get(), length)});
  }
  return read;
}

}  // namespace hostlore
