// Making durable what the module relies on after a power cut. Until it is synced, the
// disk's cache holds a file's data and a folder's name changes (creates, deletes, renames),
// and a cut may lose them: file data before the rename that publishes it, a folder's
// changes before anything is deleted or recorded as done on their strength.
#pragma once

namespace quarrow {

// Syncs the file or folder at the OS path `osPath`, opened read-only: a file's data, or a
// folder's name changes so far. False when it could not be opened, synced or closed.
bool MakeDurable(const char *osPath);
// The same for `name` in the current folder, or for the current folder itself when `name`
// is null. False also when the current folder cannot be told.
bool MakeDurableHere(const char *name);

}  // namespace quarrow
