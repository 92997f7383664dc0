// The echo: does the target answer, and from which address.
#pragma once

namespace hostlore {

struct ScanState;

// Sends one ICMP echo (TTL 255, 32 bytes of "A", 2000 ms) to TargetName.
// An answer with status success sets PingOk and TargetAddress (dotted); no
// answer, a non-success reply, or a name that does not resolve leave PingOk
// false and TargetAddress as it was. A name that does not resolve sends no
// packet at all. A name longer than 64 characters raises StageFailure.
void Ping(ScanState& state);

}  // namespace hostlore
