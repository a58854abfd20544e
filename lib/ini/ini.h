// INI-style settings store: one text file at a time, held whole in memory.
#pragma once

#include <cstdint>

enum INIPlace : uint32_t {
  INIPlace_None = 0,
  INIPlace_New = 1,
  INIPlace_CurrentDir = 2,
  INIPlace_AppFolder = 3,
  INIPlace_Settings = 4,
  INIPlace_ProgramFiles = 5,
};

extern char *INIBuffer;
extern uint32_t BufferSize;
extern char *INICommentBuffer;

INIPlace INIOpenFile(const char *FileName, const char *AppFolder);
INIPlace INILocateFile(const char *FileName, const char *AppFolder);
void INIFindStartEnd(const char *SearchText, char **Start, char **End, uint32_t MaxLength);
int32_t INIGetInt(const char *Key, int32_t Default, int32_t Min, int32_t Max);
void INISetString(const char *Key, const char *Value);
void INISetInt(const char *Key, int32_t Value);
bool INISaveFile(const char *FileName, uint32_t Location, const char *AppFolder);
void INICloseFile();
