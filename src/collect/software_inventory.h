// The programs installed on the target, from its registry.
#pragma once

#include <string>
#include <vector>

namespace hostlore {

struct ScanState;

// Lists the programs of the uninstall key and of the installer data, then
// of the other views Programs and Features shows (the 32-bit uninstall key
// of a 64-bit Windows, and both uninstall keys of every loaded user hive),
// into SoftwareList: entries of fields joined by "§", sorted without regard
// to case, neighbours with the same program name reduced to the last,
// entries joined by "^". Sends the progress steps 35, 40 and the rising
// steps of the uninstall loops (one per uninstall subkey of every view), and
// rewrites the dump file TempDir + "/test.txt". When nothing could be read,
// or the inventory failed on the way, it logs, leaves SoftwareList as it was
// and sets SoftwareInventoryFailed, so that the stored list is kept.
void GetSoftware(ScanState& state);

// The progress steps of the uninstall loop for `subkeys` subkeys, as text.
// With one subkey or none (no division possible) the loop climbs the whole
// 40 points in one step.
std::vector<std::string> UninstallProgressSteps(size_t subkeys);

}  // namespace hostlore
