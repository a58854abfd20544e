// Timestamped log file lines with an echo to the first openable /dev/pts/N.
#pragma once

#include <cstdint>

extern char puffer[1024];

void LogEntry(const char *FileName, const char *ProgramName, int Console, uint32_t TimeStampFormat,
              const char *Text);
void PrintNet(const char *text);
