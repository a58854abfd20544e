// The folder where each fingerprint's recording was last seen, kept only while the user
// has asked for recordings to go back into their folders (RestoreFolders=1 in Quarrow.ini):
// in memory between a load and a destroy within one step of the scheduler, like the
// database, and on the disk as Quarrow.folders in the settings folder (app/folders_format.h),
// written by the safe replace. A damaged or missing file costs folders, never a name: the
// recovery then leaves the recording in /DataFiles/Zorvane as it would without the setting.
// Host memory: 16 bytes per fingerprint, the paths once each, an index of 4-byte slots.
#pragma once

#include <cstdint>

#include "app/folders_format.h"

namespace quarrow {

// Reads Quarrow.folders (none there: empty). A damaged file gives its sound records, one
// of another version none (both logged, and kept aside by the next save); a file that
// cannot be read refuses saves until the next load (logged once, and again when it can be
// read). Restores the current folder.
void Folders_Load();

// Notes `folder` (a host path; nothing for one that Folders_PathValid refuses) as where the recording (inode, sample) is now. Without a
// load, or without memory (logged once per load), nothing is noted.
void Folders_Note(uint64_t inode, uint32_t sample, const char *folder);

// The folder last noted for the recording (inode, sample) into `out`; false when none.
bool Folders_Of(uint64_t inode, uint32_t sample, char (&out)[FOLDER_PATH_SIZE]);

// True after a load that found the file but could not read it (logged): what it holds is
// not known now, so a recovery keeps the files it would return for a later start.
bool Folders_Unread();

// True when something was noted since the load that the file does not hold.
bool Folders_Changed();

// Writes the store whole, only the folders it still names; failures logged. Restores the
// current folder.
void Folders_Save();

// Releases the store; a later Note does nothing until the next load.
void Folders_Destroy();

}  // namespace quarrow
