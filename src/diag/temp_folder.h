// The agent's temporary folder: where its log (Kelvarn.log) and its software
// dump go.
#pragma once

#include <string>

namespace hostlore {

// The first of the variables Temp, TEMP, TMP and TMPDIR that is set and not
// empty ("Temp" as the agent has always read it; Linux spells it TMPDIR),
// read with secure_getenv. None: "/tmp", where anyone may write, rather than
// the root of the file system.
std::string ReadTempFolder();

}  // namespace hostlore
