// Replacing a whole file in the current folder so that a failure or a power cut at
// any step leaves either the previous file or the new one under the file's name.
//
// The host's rename never overwrites, so a replace takes three names:
//   NAME.tmp  the new content, written in full and read back before it is used
//   NAME.bak  the previous file, for the moment between the two renames
// Sequence: write and check NAME.tmp, and sync it; rename NAME -> NAME.bak; rename
// NAME.tmp -> NAME; sync the folder; delete NAME.bak. The read-back sees only the disk's
// cache: the syncs make the new data durable before a rename can publish it, and the
// renames before the backup goes, so that a cut that loses the cache leaves one of the two
// files too. If NAME is ever missing while NAME.bak exists, the cut came between the
// renames and NAME.bak is the complete previous file: FileRecover renames it back.
#pragma once

#include <cstdint>

// One piece of the file's content; the pieces are written one after the other.
struct FilePart {
  const void *data;
  uint32_t size;
};

enum : uint32_t { FILE_NAME_SIZE = 256 };

// Writes `parts` as the new content of `name` in the current folder. With `keepOldAs` set,
// the previous file is kept under that name (replacing one there; left as NAME.bak should
// that rename fail) instead of being deleted. True when `name` now holds exactly the new
// content, durable; false (also for a missing name, one too long for the suffixes, or a
// sync that failed) leaves the previous file or its absence, at worst as NAME.bak for
// FileRecover.
bool FileReplace(const char *name, const FilePart *parts, int count, const char *keepOldAs);

// Puts back the previous file of an interrupted replace (see above). True when `name`
// exists afterwards.
bool FileRecover(const char *name);

// True when `name` with `suffix` appended fits FILE_NAME_SIZE; writes it into `out`
// (empty when it does not fit).
bool FileSiblingName(char (&out)[FILE_NAME_SIZE], const char *name, const char *suffix);
