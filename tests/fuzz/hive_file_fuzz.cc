// Feeds arbitrary bytes to the reader of the registry snapshot's hive
// files, as a target could send them, and reads keys and values from
// whatever libhivex accepts. None may crash, overrun or hang.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/network/smb/hive_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  auto hive = hostlore::HiveFile::Parse(bytes);
  if (!hive.ok()) return 0;
  for (std::string_view path : {"", "Prog1", "prog1\\InstallProperties", "Prog1\\none", "\\", "Prog1\\\\x"}) {
    (void)hive.value()->Read(path);
  }
  return 0;
}
