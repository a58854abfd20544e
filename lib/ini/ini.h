// INI-style settings store: one text file at a time, held whole in memory. Call
// INIOpenFile, then gets and sets, optionally INISaveFile, and always INICloseFile.
#pragma once

#include <cstdint>

// Where a file was found (INILocateFile, INIOpenFile) or is to be stored (INISaveFile).
enum INIPlace : uint32_t {
  INIPlace_None = 0,          // not found / open failed, nothing held / save: as ProgramFiles
  INIPlace_New = 1,           // open: found nowhere, an empty text is held / save: as ProgramFiles
  INIPlace_CurrentDir = 2,    // the current folder
  INIPlace_AppFolder = 3,     // /ProgramFiles/Settings/<AppFolder>
  INIPlace_Settings = 4,      // /ProgramFiles/Settings
  INIPlace_ProgramFiles = 5,  // /ProgramFiles
};

// The open text, NUL-terminated, from the host allocator; owned by the store, released by
// INICloseFile (and by the next INIOpenFile). Null when nothing is open. BufferSize: its
// size in bytes, meaningful only while INIBuffer is held. INICommentBuffer: never filled
// here; INICloseFile releases it should it be set.
extern char *INIBuffer;
extern uint32_t BufferSize;
extern char *INICommentBuffer;

// Releases any held text, then loads FileName whole, CR LF appended when its last line has
// no line end. Returns where it was found; New with an empty text when it is nowhere; None,
// with nothing held, when it cannot be opened or read whole, or without memory. Restores
// the caller's current folder (when the folder stack can save it).
INIPlace INIOpenFile(const char *FileName, const char *AppFolder);
// Where FileName is: the current folder (completing a save cut short between its renames),
// else the deepest of /ProgramFiles, /ProgramFiles/Settings and its AppFolder (none when
// AppFolder is empty or absolute); None when nowhere. Leaves the current folder where it
// was found, or where it was when not found (if that could be read).
INIPlace INILocateFile(const char *FileName, const char *AppFolder);
// Finds SearchText ("key=") case-insensitively anywhere in the text, not only at a line's
// start, passing over occurrences right after "#" or ";". *Start: the occurrence, or null
// (*End then not to be used). *End: the last character before its line end, at most
// Start + MaxLength - 1 unless an LF comes before a CR; null when no line end follows.
// Does nothing with a null Start or End, or MaxLength 0.
void INIFindStartEnd(const char *SearchText, char **Start, char **End, uint32_t MaxLength);
// The value of Key (its first 78 characters) as a number clamped to Min..Max; Default,
// unclamped, when there is no entry or its first 11 characters are not an optional "-" and
// digits. Values above 2^31 - 1 read as negative (2^32 and more as -1). 0 for a null Key.
int32_t INIGetInt(const char *Key, int32_t Default, int32_t Min, int32_t Max);
// Replaces the value of Key's entry, or appends "Key=Value" CR LF. Leaves the text as it
// was, unreported, without memory, when no text is open, or when one growth step (to the
// next multiple of 1024 bytes) cannot hold the result.
void INISetString(const char *Key, const char *Value);
// INISetString with Value written as "%d".
void INISetInt(const char *Key, int32_t Value);
// Writes the text (up to its NUL) as FileName in Location by the safe replace, creating
// Settings and the AppFolder for those places. False, with the previous file as it was,
// when nothing is open, FileName is empty, Location is above 5, AppFolder is missing for
// INIPlace_AppFolder, a folder cannot be entered or the replace fails. The text stays
// held; the current folder is restored.
bool INISaveFile(const char *FileName, uint32_t Location, const char *AppFolder);
// Releases the held text (and INICommentBuffer); harmless when nothing is open.
void INICloseFile();
