// Uptime, packed local date-time word and its text layouts.
#pragma once

#include <cstdint>

// TimeFormat's result, overwritten by each call; at most 23 characters (room for the
// blank the log writer appends in place).
extern char sTimeStamp[25];

// Hundredths of a second since the system started; 0 if /proc/uptime cannot be read (or
// the host has no memory for its line).
uint32_t GetUptime();
// MJD << 16 | hour << 8 | minute from the host's clock; *seconds gets the seconds when given.
uint32_t Now(uint8_t *seconds);
// `dateTime` (as Now gives it) in layout `type`: 1 "HH:MM", 2 "HH:MM:SS", 3 the date
// alone ("2023-06-15"), 4 "YYYY-MM-DD HH:MM", 5 "YYYY-MM-DD HH:MM:SS", 6 "YYYYMMDD_HHMM";
// empty for any other. Returns sTimeStamp; MJD 0 gives a zero date.
char *TimeFormat(uint32_t dateTime, uint32_t seconds, uint32_t type);
