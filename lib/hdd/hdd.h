// Folder navigation on top of the host's current folder, with a stack of saved folders.
#pragma once

#include <cstdint>

enum : int {
  HDD_DIRSTACK_SLOTS = 16,
  HDD_DIRSTACK_SLOT_SIZE = 200,
};

// Saved host paths; TAPDirStackDepth is the top slot's index, -1 when empty. Owned by
// the push and pop below.
extern char TAPDirStack[HDD_DIRSTACK_SLOTS][HDD_DIRSTACK_SLOT_SIZE];
extern int32_t TAPDirStackDepth;

// True when the host's current folder is now `path` (absolute, or relative to the current
// one), tried as given and then in UTF-8 (cut to 255 bytes). The first call ever also
// learns the host's success value by entering /ProgramFiles, so a relative path is taken
// from there then. A failure leaves wherever the host is.
bool HDD_ChangeDir(const char *path);
// Writes the current folder as a host path (the firmware's path less its first 7 bytes,
// "/mnt/hd") into `buffer` (200 bytes). 0 on success, and also, with `buffer` unchanged,
// when the firmware's record holds no path; -3, with `buffer` empty, when the firmware's
// tables cannot be found (or give a negative task) or the path does not fit.
int HDD_TAP_GetCurrentDir(char *buffer);
// Saves the current folder on the stack; false (stack unchanged) when it is full or
// HDD_TAP_GetCurrentDir fails. A record without path passes, saving the slot's old text.
bool HDD_TAP_PushDir();
// Drops the top folder and changes back into it: HDD_ChangeDir's result; false when empty.
bool HDD_TAP_PopDir();
