// Timestamped log file lines with an echo to the first openable /dev/pts/N.
#pragma once

#include <cstdint>

// Scratch buffer of the terminal echo; holds nothing between calls.
extern char puffer[1024];

// Appends stamp, Text and CR LF to FileName in the current folder (created when missing;
// none for a null or empty name); with Console set, echoes stamp, "ProgramName: " and Text
// to the terminal. The stamp is the clock in TimeFormat's layout TimeStampFormat and a
// blank (none for an empty layout). Failed writes are not reported.
void LogEntry(const char *FileName, const char *ProgramName, int Console, uint32_t TimeStampFormat,
              const char *Text);
// Writes `text` with its NUL to the first of /dev/pts/0 to /dev/pts/19 that opens; nothing
// when none does or `text` is null.
void PrintNet(const char *text);
