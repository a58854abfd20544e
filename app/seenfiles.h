// What the scans saw of each recording and its two companions, kept while the module is
// loaded, so that a later scan opens only a file that changed since it was read.
//
// A record per recording, found by the recording's inode: for the recording, its .inf and
// its .nav each the inode, size, modification time (seconds), change time (seconds and
// nanoseconds) and the sample read; 100 bytes with the recording's scan mark. They lie in
// blocks of 512 (51,200 bytes) with an index of 4-byte slots at most three quarters full:
// about 106 to 111 bytes of host memory per recording, and at most one block unused. A
// file is taken as unchanged only when its inode, size and both times are all as kept, so
// a file rewritten or replaced, or a new file on a reused inode, is read again. (A file
// system that keeps whole seconds only cannot tell a rewrite to the same size within the
// second it was read.) Without memory, or beyond 131,072 recordings, what does not fit is
// not kept and is read at every scan, as without the table.
#pragma once

#include <cstdint>

#include "app/matching.h"

struct stat64;  // as lstat64 fills it (host/os.h)

namespace quarrow {

// A scan begins; the records of recordings it does not see are dropped when it ends.
void SeenFiles_BeginScan();
void SeenFiles_EndScan();

// The sample kept of file `kind` of the recording with inode `recInode`, when `st` (that
// file's lstat64 now) shows it unchanged since; false otherwise. Marks the recording seen.
bool SeenFiles_Sample(uint64_t recInode, MatchKind kind, const struct stat64 &st, uint32_t *sample);

// Keeps what was read of that file now. Marks the recording seen.
void SeenFiles_Keep(uint64_t recInode, MatchKind kind, const struct stat64 &st, uint32_t sample);

// Releases the table (the module keeps it until it is unloaded).
void SeenFiles_Free();

// Recordings kept, and the host blocks holding them.
uint32_t SeenFiles_Count();
uint32_t SeenFiles_Blocks();

}  // namespace quarrow
