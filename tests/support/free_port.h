// Ports for the servers that tests start.
#pragma once

namespace hostlore::test {

// A loopback TCP port that nothing listened on a moment ago; 0 when none
// could be found.
int FreeLoopbackPort();

}  // namespace hostlore::test
