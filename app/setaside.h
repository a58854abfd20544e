// The settings folder's files as the stores find and replace them, and entries that cannot
// be used as they stand (the settings folder's files, the settings folders themselves),
// moved out of the way under a free name, never followed, written through or deleted.
#pragma once

#include "lib/replace/replace.h"

namespace quarrow {

// The first name among NAME.bad, NAME.bad2, ... NAME.bad999 that nothing in the settings
// folder holds. False when there is none or the name does not fit.
bool FreeAsideName(char (&out)[FILE_NAME_SIZE], const char *name);

// True when the operating system sees `name` in the settings folder: a second look
// before a file the host reports missing is taken as absent and replaced.
bool SeenInSettings(const char *name);

// Sets aside `name` and the safe replace's NAME.tmp and NAME.bak in the settings folder
// when one of them is there but is not a plain file (a folder, a link, a device), and
// logs it. False when such an entry is still in the way afterwards.
bool SetAsideUnusable(const char *name);

// Sets aside `name` in the folder `folderOs` (an OS path) when it is there but is not a
// real folder (a plain file, a link, wherever it leads), as NAME.bad, NAME.bad2, ..., and
// logs it. True when nothing but a folder, or nothing, holds the name afterwards.
bool SetAsideUnlessFolder(const char *folderOs, const char *name);

// A file of the settings folder about to be read: not there; there (the previous file of a
// replace cut short between its renames put back first); or out of reach (the folder cannot
// be entered, something that is no plain file stays in the way, or the operating system
// sees the file that the host cannot find): whether it holds anything is then unknown, and
// it must not be overwritten. Leaves the current folder at the settings folder when it
// could enter it.
enum class SettingsFile { Absent, There, OutOfReach };
SettingsFile FindSettingsFile(const char *name);

// Writes `parts` as `name` in the settings folder by the safe replace; with `keepAside` the
// previous file is kept under the first free NAME.bad name rather than deleted. False on
// failure, the previous file as it was. Restores the current folder.
bool ReplaceSettingsFile(const char *name, const FilePart *parts, int count, bool keepAside);

}  // namespace quarrow
