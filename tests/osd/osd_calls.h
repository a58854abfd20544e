// Records the screen calls that the boxes make, as text, while the simulator still carries
// them out. OSDMenuPutS is wrapped at link time (see CMakeLists.txt) so that its arguments are
// seen exactly as the boxes pass them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/firmware.h"

namespace osdtest {

extern std::vector<std::string> calls;
// The region table that FIS_vOsdMap hands out, or none.
extern OSDRegionEntry regionTable[32];
extern bool haveRegionTable;

// Swaps the screen calls of the plug-in API for recorders that forward to the simulator.
void InstallRecorders();
void RemoveRecorders();

// Calls whose text starts with the prefix.
std::vector<std::string> Matching(const std::string &prefix);
// Position of the first call equal to `call` at or after `from`, or -1.
int Find(const std::string &call, size_t from = 0);

}  // namespace osdtest
