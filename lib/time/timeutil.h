// Uptime, packed local date-time word and its text layouts.
#pragma once

#include <cstdint>

extern char sTimeStamp[25];

uint32_t GetUptime();                     // hundredths of a second; 0 if unreadable
uint32_t Now(uint8_t *seconds);           // MJD << 16 | hour << 8 | minute
char *TimeFormat(uint32_t dateTime, uint32_t seconds, uint32_t type);
