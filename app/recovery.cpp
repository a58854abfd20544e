// Gives each file that the intake moved into /DataFiles/Zorvane its recording, .inf or
// .nav name back, identified by its inode number and bytes sampled from its contents.
// Only the files on the recovery list are looked at; the list keeps those whose recovery
// could not be finished now, for the next start.
#include <cstring>

#include "app/names.h"
#include "app/paths.h"
#include "app/quarrow.h"
#include "app/recoverylist.h"
#include "host/hostfile.h"
#include "host/os.h"
#include "host/tap.h"
#include "lib/hdd/hdd.h"

using namespace quarrow;

namespace {

constexpr uint32_t kMaxNumbered = 999;

enum class Outcome { Done, Renamed, Retry };

// The three names of one recording: the recording, its .inf and its .nav.
enum Kind { kRecording = 0, kInf = 1, kNav = 2 };
constexpr const char *kSuffix[3] = {"", ".inf", ".nav"};

bool StatInZorvane(const char *name, struct stat64 *st) {
  char path[PATH_SIZE];
  return JoinPath(path, sizeof path, {kRecoveryFolderOs, "/", name}) && lstat64(path, st) == 0;
}

enum class Name { Usable, Taken, Unknown };

// Usable when free or held by the very file that belongs there. A name that cannot be
// examined but that the host lists may be either: unknown.
Name Examine(const char *name, uint64_t inode) {
  struct stat64 st;
  if (!StatInZorvane(name, &st)) return TAP_Hdd_Exist(name) ? Name::Unknown : Name::Usable;
  return inode != 0 && static_cast<uint64_t>(st.st_ino) == inode ? Name::Usable : Name::Taken;
}

// The name for the file of `kind` of entry `e`: the recording's name (or the first free
// numbered one) with the kind's suffix, so that the three names of one recording always
// share their stem. Names held by another file are never taken. Unknown when a name on
// the way could not be examined.
Name ChooseName(const RecDBEntry &e, const char *recName, Kind kind, char (&out)[PATH_SIZE]) {
  const uint64_t inodes[3] = {e.RecInode, e.InfInode, e.NavInode};
  char stem[PATH_SIZE];
  char names[3][PATH_SIZE];
  for (uint32_t k = 1; k <= kMaxNumbered; ++k) {
    if (!NumberedName(stem, sizeof stem, recName, k)) return Name::Taken;
    Name verdict = Name::Usable;
    for (int i = 0; i < 3 && verdict == Name::Usable; ++i)
      verdict = JoinPath(names[i], sizeof names[i], {stem, kSuffix[i]}) ? Examine(names[i], inodes[i]) : Name::Taken;
    if (verdict == Name::Unknown) return verdict;
    if (verdict == Name::Usable) return JoinPath(out, sizeof out, {names[kind]}) ? Name::Usable : Name::Taken;
  }
  return Name::Taken;
}

// The first database entry and rule that the file matches, in database order; within an
// entry the recording rule before .inf before .nav.
const RecDBEntry *FindMatch(uint64_t inode, uint32_t first, uint32_t second, Kind *kind, char (&name)[128]) {
  for (int32_t i = 0; RecDB != nullptr && i < RecDBEntries && i < RecDBSize; ++i) {
    const RecDBEntry &e = RecDB[i];
    if (e.RecInode == inode && e.RecSample == first)
      *kind = kRecording;
    else if (e.InfInode == inode && e.InfSample == first)
      *kind = kInf;
    else if (e.NavInode == inode && e.NavSample == second)
      *kind = kNav;
    else
      continue;
    // The stored name is cut at its field, whatever the file held.
    size_t length = strnlen(e.RecName, sizeof name - 1);
    std::memcpy(name, e.RecName, length);
    name[length] = '\0';
    if (IsPlainName(name)) return &e;
    // A damaged or crafted record must not lead the file out of the folder.
    TAP_SPrint(LogString, "unusable name '%.200s' in the DB, passed over", name);
    WriteLog(LogString);
  }
  return nullptr;
}

Outcome RecoverItem(const RecoveryItem &item, bool databaseRead) {
  struct stat64 st;
  if (!StatInZorvane(item.target, &st)) {
    // Renamed already (by an earlier, interrupted pass or by the user), or gone; a file
    // the host still sees is only out of reach for now.
    return TAP_Hdd_Exist(item.target) ? Outcome::Retry : Outcome::Done;
  }
  if (static_cast<uint64_t>(st.st_ino) != item.inode) return Outcome::Done;
  if (!S_ISREG(st.st_mode)) return Outcome::Done;  // folders keep their names
  if (!databaseRead) return Outcome::Retry;

  uint8_t head[HostFile::HEAD_SIZE];
  {
    HostFile file(item.target);
    if (!file) {
      TAP_SPrint(LogString, "failed to open '%.400s' while recovering", item.target);
      WriteLog(LogString);
      return Outcome::Retry;
    }
    if (!file.ReadHead(head)) {
      TAP_SPrint(LogString, "failed to read '%.400s' while recovering", item.target);
      WriteLog(LogString);
      return Outcome::Retry;
    }
  }

  Kind kind = kRecording;
  char recName[128];
  const RecDBEntry *e = FindMatch(item.inode, HostFile::WordAt(head, 8), HostFile::WordAt(head, 12), &kind, recName);
  if (e == nullptr) return Outcome::Done;  // not known: keeps its name

  char newName[PATH_SIZE];
  Name chosen = ChooseName(*e, recName, kind, newName);
  if (chosen != Name::Usable) {
    if (chosen == Name::Unknown)
      TAP_SPrint(LogString, "failed to examine the names for '%.200s' while recovering", item.target);
    else
      TAP_SPrint(LogString, "no free name for '%.200s' as '%.200s%s'", item.target, recName, kSuffix[kind]);
    WriteLog(LogString);
    return Outcome::Retry;
  }
  // Got its name back on an earlier pass: nothing to do.
  if (std::strcmp(item.target, newName) == 0) return Outcome::Done;

  // Looked at once more right before: a rename may replace what holds the name.
  if (StatInZorvane(newName, &st)) {
    TAP_SPrint(LogString, "failed to rename '%.200s' to '%.200s'", item.target, newName);
    WriteLog(LogString);
    return Outcome::Retry;
  }
  TAP_Hdd_Rename(item.target, newName);
  // What the rename reports is not relied on: the file must now be under the new name.
  if (!StatInZorvane(newName, &st) || static_cast<uint64_t>(st.st_ino) != item.inode ||
      StatInZorvane(item.target, &st)) {
    TAP_SPrint(LogString, "failed to rename '%.200s' to '%.200s'", item.target, newName);
    WriteLog(LogString);
    return Outcome::Retry;
  }
  TAP_SPrint(LogString, "recovered '%.200s' to '%.200s'", item.target, newName);
  WriteLog(LogString);
  return Outcome::Renamed;
}

}  // namespace

int CrossCheckLostAndFoundWithDB() {
  // Without the folder, the names would be those of whatever folder we are in.
  if (!HDD_ChangeDir(kRecoveryFolder)) return 0;
  RecoveryList list, left;
  if (!RecoveryList_Load(&list)) return 0;
  if (list.count == 0) return 0;

  const bool databaseRead = RecDB_Usable();
  int result = 0;
  bool keepWholeList = false;
  RecoveryItem item;
  for (uint32_t at = 0; RecoveryList_Next(&list, &at, &item);) {
    Outcome outcome = RecoverItem(item, databaseRead);
    if (outcome == Outcome::Renamed) result = 1;
    // Without memory for the shorter list, the whole list stays: its finished entries
    // are passed over next time.
    if (outcome == Outcome::Retry && !RecoveryList_Add(&left, item.inode, item.source, item.target))
      keepWholeList = true;
  }
  if (!keepWholeList && !RecoveryList_Save(&left)) WriteLog("failed to save the recovery list");
  RecoveryList_Free(&left);
  RecoveryList_Free(&list);
  return result;
}
