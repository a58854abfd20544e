// Folder navigation on top of the host's current folder, with a stack of saved folders.
#pragma once

#include <cstdint>

enum : int {
  HDD_DIRSTACK_SLOTS = 16,
  HDD_DIRSTACK_SLOT_SIZE = 200,
};

extern char TAPDirStack[HDD_DIRSTACK_SLOTS][HDD_DIRSTACK_SLOT_SIZE];
extern int32_t TAPDirStackDepth;

bool HDD_ChangeDir(const char *path);
int HDD_TAP_GetCurrentDir(char *buffer);  // buffer: 200 bytes; 0 or -3
bool HDD_TAP_PushDir();
bool HDD_TAP_PopDir();
