#include "app/matching.h"

#include <cstring>

#include "app/names.h"
#include "app/slots.h"
#include "host/paths.h"
#include "lib/text/text.h"

namespace quarrow {

Samples SamplesOf(const uint8_t *head, size_t length) {
  uint8_t bytes[HEAD_BYTES] = {};
  std::memcpy(bytes, head, length < size_t{HEAD_BYTES} ? length : size_t{HEAD_BYTES});
  Samples s;
  std::memcpy(&s.first, bytes + 8, sizeof s.first);
  std::memcpy(&s.second, bytes + 12, sizeof s.second);
  return s;
}

namespace {

// The first rule of the entry that the file matches: recording before .inf before .nav.
bool RuleOf(const RecDBEntry &e, uint64_t inode, Samples samples, MatchKind *kind) {
  if (e.RecInode == inode && e.RecSample == samples.first)
    *kind = kRecording;
  else if (e.InfInode == inode && e.InfSample == samples.first)
    *kind = kInf;
  else if (e.NavInode == inode && e.NavSample == samples.second)
    *kind = kNav;
  else
    return false;
  return true;
}

// The entry's name for the file; false when it is not plain, after reporting it.
bool TakeName(const RecDBEntry &e, char (&name)[128], PassedOverFn passedOver, void *context) {
  // The stored name is cut at its field, whatever the file held.
  CopyText(name, e.RecName);
  if (IsPlainName(name)) return true;
  // A damaged or crafted record must not lead the file out of the folder.
  if (passedOver != nullptr) passedOver(name, context);
  return false;
}

uint64_t InodeOf(const RecDBEntry &e, uint32_t kind) {
  return kind == kRecording ? e.RecInode : kind == kInf ? e.InfInode : e.NavInode;
}

}  // namespace

const RecDBEntry *FindMatch(const RecDBEntry *entries, int32_t count, uint64_t inode, Samples samples,
                            MatchKind *kind, char (&name)[128], PassedOverFn passedOver, void *context) {
  for (int32_t i = 0; entries != nullptr && i < count; ++i) {
    const RecDBEntry &e = entries[i];
    if (RuleOf(e, inode, samples, kind) && TakeName(e, name, passedOver, context)) return &e;
  }
  return nullptr;
}

uint32_t MatchIndexSlots(int32_t count) {
  if (count < 0 || count >= (1 << 29)) return 0;
  return SlotsFor(3 * static_cast<uint32_t>(count));
}

MatchIndex BuildMatchIndex(const RecDBEntry *entries, int32_t count, uint32_t *slots) {
  const uint32_t size = MatchIndexSlots(count);
  const uint32_t mask = size - 1;
  std::memset(slots, 0, size_t{size} * sizeof *slots);
  for (int32_t i = 0; i < count; ++i) {
    for (uint32_t k = kRecording; k <= kNav; ++k) {
      // An inode of 0 is looked up by the walk.
      const uint64_t inode = InodeOf(entries[i], k);
      if (inode == 0) continue;
      uint32_t h = HashKey(inode, 0) & mask;
      while (slots[h] != 0) h = (h + 1) & mask;
      slots[h] = (static_cast<uint32_t>(i) << 2 | k) + 1;
    }
  }
  return MatchIndex{slots, mask};
}

const RecDBEntry *FindMatch(const RecDBEntry *entries, int32_t count, const MatchIndex *index, uint64_t inode,
                            Samples samples, MatchKind *kind, char (&name)[128], PassedOverFn passedOver,
                            void *context) {
  if (index == nullptr || inode == 0 || entries == nullptr)
    return FindMatch(entries, count, inode, samples, kind, name, passedOver, context);
  // The entries that match, lowest first, as the walk meets them.
  int64_t after = -1;
  for (;;) {
    uint32_t best = UINT32_MAX;
    for (uint32_t h = HashKey(inode, 0) & index->mask; index->slots[h] != 0; h = (h + 1) & index->mask) {
      const uint32_t v = index->slots[h] - 1, n = v >> 2, k = v & 3;
      if (static_cast<int64_t>(n) <= after || n >= best || static_cast<int32_t>(n) >= count) continue;
      const RecDBEntry &e = entries[n];
      const uint32_t sample = k == kRecording ? e.RecSample : k == kInf ? e.InfSample : e.NavSample;
      if (InodeOf(e, k) == inode && sample == (k == kNav ? samples.second : samples.first)) best = n;
    }
    if (best == UINT32_MAX) return nullptr;
    const RecDBEntry &e = entries[best];
    RuleOf(e, inode, samples, kind);
    if (TakeName(e, name, passedOver, context)) return &e;
    after = best;
  }
}

// Not inlined: its name buffers stay in a frame of their own rather than adding to the
// caller's on the firmware's stack.
[[gnu::noinline]] NameState ChooseName(const RecDBEntry &e, const char *recName, MatchKind kind, char *out,
                                       size_t size, ExamineFn examine, void *context, uint32_t forms) {
  const uint64_t inodes[3] = {e.RecInode, e.InfInode, e.NavInode};
  // A stored name (127 bytes at most), " (999)" and a suffix: room enough, and small, since
  // this runs on the firmware's stack.
  constexpr size_t kNameRoom = 160;
  static_assert(sizeof e.RecName + sizeof " (999)" + sizeof ".nav" <= kNameRoom);
  char stem[kNameRoom];
  char names[3][kNameRoom];
  if (size > 0) out[0] = '\0';
  for (uint32_t k = 1; k <= forms && k <= MAX_NUMBERED; ++k) {
    if (!NumberedName(stem, sizeof stem, recName, k)) return NameState::Taken;
    NameState verdict[3] = {NameState::Taken, NameState::Taken, NameState::Taken};
    bool usable = true;
    for (int i = 0; i < 3 && usable; ++i) {
      if (JoinPath(names[i], sizeof names[i], {stem, kKindSuffix[i]})) verdict[i] = examine(names[i], inodes[i], context);
      if (verdict[i] == NameState::Unknown) return verdict[i];
      usable = verdict[i] == NameState::Free || verdict[i] == NameState::Usable;
    }
    if (usable) return JoinPath(out, size, {names[kind]}) ? verdict[kind] : NameState::Taken;
  }
  return NameState::Taken;
}

}  // namespace quarrow
