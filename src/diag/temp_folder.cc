#include "diag/temp_folder.h"

#include <cstdlib>

namespace hostlore {

std::string ReadTempFolder() {
  for (const char* name : {"Temp", "TEMP", "TMP", "TMPDIR"}) {
    const char* value = ::secure_getenv(name);
    if (value != nullptr && *value != '\0') return value;
  }
  return "/tmp";
}

}  // namespace hostlore
