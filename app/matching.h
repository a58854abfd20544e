// The recovery's rules, free of any host call: which database entry a file matches, and
// which name it gets. The module's recovery and the PC tool quarrow-db both decide with
// these, so that the tool predicts what the module does.
#pragma once

#include <cstddef>
#include <cstdint>

#include "app/quarrow.h"

namespace quarrow {

// The three names of one recording: the recording, its .inf and its .nav.
enum MatchKind { kRecording = 0, kInf = 1, kNav = 2 };
constexpr const char *kKindSuffix[3] = {"", ".inf", ".nav"};

enum : uint32_t { HEAD_BYTES = 16, MAX_NUMBERED = 999 };

// The two sampled words of a file: those at offsets 8 and 12 of its first 16 bytes,
// exactly as stored.
struct Samples {
  uint32_t first;   // offset 8: recording and .inf
  uint32_t second;  // offset 12: .nav
};

// The samples of a file whose first `length` bytes are `head` (any length): the bytes a
// short file lacks count as zeros. The only place that knows which bytes are sampled.
Samples SamplesOf(const uint8_t *head, size_t length);
// The one of them that a file of `kind` is fingerprinted by.
inline uint32_t SampleOf(const uint8_t *head, size_t length, MatchKind kind) {
  const Samples s = SamplesOf(head, length);
  return kind == kNav ? s.second : s.first;
}

// Called for a matching entry whose name is not plain; it is passed over.
using PassedOverFn = void (*)(const char *name, void *context);

// The first of `count` entries, in order, that the file (inode, samples) matches, and by
// which rule: within an entry the recording rule before .inf before .nav. `name` gets the
// entry's name cut to its field. Entries with a name that is not plain are passed over
// (reported to `passedOver` when set). Null when nothing matches.
const RecDBEntry *FindMatch(const RecDBEntry *entries, int32_t count, uint64_t inode, Samples samples,
                            MatchKind *kind, char (&name)[128], PassedOverFn passedOver, void *context);

// The entries' inode numbers (recording, .inf, .nav), for many look-ups in one array that
// does not change meanwhile. The slots belong to the caller.
struct MatchIndex {
  const uint32_t *slots;
  uint32_t mask;
};
// How many slots an index of `count` entries needs; 0 when too many.
uint32_t MatchIndexSlots(int32_t count);
// Fills `slots` (MatchIndexSlots(count) of them) from the entries.
MatchIndex BuildMatchIndex(const RecDBEntry *entries, int32_t count, uint32_t *slots);
// FindMatch through the index of the same entries, with the same result and the same
// reports in the same order; without an index it walks the entries.
const RecDBEntry *FindMatch(const RecDBEntry *entries, int32_t count, const MatchIndex *index, uint64_t inode,
                            Samples samples, MatchKind *kind, char (&name)[128], PassedOverFn passedOver,
                            void *context);

// Whether a name in the recovery folder may be taken by the file with `inode`.
enum class NameState { Free, Usable, Taken, Unknown };
// Free when nothing holds the name; Usable when the file with `inode` holds it (0: no such
// file); Unknown when it cannot be told.
using ExamineFn = NameState (*)(const char *name, uint64_t inode, void *context);

// The name for the file of `kind` of entry `e`: `recName` (or the first numbered name,
// "Name (2).rec", up to `forms` - 1 of them) with the kind's suffix, taken only when all
// three names of that stem are free or usable for the entry's files, so that they always
// share their stem. Free or Usable as that name itself was found; Unknown when a name on
// the way could not be examined; Taken when none is free.
NameState ChooseName(const RecDBEntry &e, const char *recName, MatchKind kind, char *out, size_t size,
                     ExamineFn examine, void *context, uint32_t forms = MAX_NUMBERED);

}  // namespace quarrow
