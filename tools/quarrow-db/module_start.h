// One start of the module's own code on a mounted disk, in this process against the
// simulated recorder (as tapsim runs it), for quarrow-db recover.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace quarrow_db {

// The ticks of the start: a start later than two minutes after power-on looks into
// /Quarrow 100 ticks after it began and shows its message box; OK acknowledges the box at
// kOkTick, and the run stops at kLastTick, long before the scan (4000 ticks in). tapsim
// with --uptime 600 --until 500 --key 0x1001E@400 makes the same start.
constexpr unsigned kOkTick = 400, kLastTick = 500;

// What the module has done so far: files moved out of /Quarrow, files renamed (its own
// saves' renames among them, so a count may run a little ahead of the files).
using Progress = std::function<void(uint64_t moved, uint64_t renamed)>;

// Runs the start on `disk` with the recorder's clock at `clock` ("YYYY-MM-DD HH:MM:SS",
// "" for this machine's local time), the module's terminal echo into `console`, telling
// `progress` (if set) after each move and rename. False, with *why, when the start could
// not be made.
bool RunModuleStart(const std::string &disk, const std::string &clock, const std::string &console, std::string *why,
                    const Progress &progress = {});

// Stores `value` under `key` in the module's Quarrow.ini on `disk` by the module's own
// settings store (its other lines kept, the file replaced safely and synced), as the
// module's settings writes do; a new file also gets InformUser=0, as the module's first
// start would write it. False, with *why, when the settings folder cannot be made or the
// file read or written.
bool StoreModuleSetting(const std::string &disk, const char *key, int value, std::string *why);

}  // namespace quarrow_db
