#include "app/matching.h"

#include <cstring>

#include "app/names.h"
#include "app/paths.h"

namespace quarrow {

Samples SamplesOf(const uint8_t *head, size_t length) {
  uint8_t bytes[HEAD_BYTES] = {};
  std::memcpy(bytes, head, length < size_t{HEAD_BYTES} ? length : size_t{HEAD_BYTES});
  Samples s;
  std::memcpy(&s.first, bytes + 8, sizeof s.first);
  std::memcpy(&s.second, bytes + 12, sizeof s.second);
  return s;
}

const RecDBEntry *FindMatch(const RecDBEntry *entries, int32_t count, uint64_t inode, Samples samples,
                            MatchKind *kind, char (&name)[128], PassedOverFn passedOver, void *context) {
  for (int32_t i = 0; entries != nullptr && i < count; ++i) {
    const RecDBEntry &e = entries[i];
    if (e.RecInode == inode && e.RecSample == samples.first)
      *kind = kRecording;
    else if (e.InfInode == inode && e.InfSample == samples.first)
      *kind = kInf;
    else if (e.NavInode == inode && e.NavSample == samples.second)
      *kind = kNav;
    else
      continue;
    // The stored name is cut at its field, whatever the file held.
    size_t length = strnlen(e.RecName, sizeof name - 1);
    std::memcpy(name, e.RecName, length);
    name[length] = '\0';
    if (IsPlainName(name)) return &e;
    // A damaged or crafted record must not lead the file out of the folder.
    if (passedOver != nullptr) passedOver(name, context);
  }
  return nullptr;
}

NameState ChooseName(const RecDBEntry &e, const char *recName, MatchKind kind, char *out, size_t size,
                     ExamineFn examine, void *context) {
  const uint64_t inodes[3] = {e.RecInode, e.InfInode, e.NavInode};
  char stem[PATH_SIZE];
  char names[3][PATH_SIZE];
  if (size > 0) out[0] = '\0';
  for (uint32_t k = 1; k <= MAX_NUMBERED; ++k) {
    if (!NumberedName(stem, sizeof stem, recName, k)) return NameState::Taken;
    NameState verdict = NameState::Usable;
    for (int i = 0; i < 3 && verdict == NameState::Usable; ++i)
      verdict = JoinPath(names[i], sizeof names[i], {stem, kKindSuffix[i]}) ? examine(names[i], inodes[i], context)
                                                                           : NameState::Taken;
    if (verdict == NameState::Unknown) return verdict;
    if (verdict == NameState::Usable) return JoinPath(out, size, {names[kind]}) ? NameState::Usable : NameState::Taken;
  }
  return NameState::Taken;
}

}  // namespace quarrow
