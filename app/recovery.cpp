// Gives each file that the intake moved into /DataFiles/Zorvane its recording, .inf or
// .nav name back, identified by its inode number and bytes sampled from its contents.
// Only the files on the recovery list are looked at; the list keeps those whose recovery
// could not be finished now, for the next start.
#include <cstring>

#include "app/folders.h"
#include "app/matching.h"
#include "app/names.h"
#include "app/quarrow.h"
#include "app/recoverylist.h"
#include "host/hostfile.h"
#include "host/os.h"
#include "host/paths.h"
#include "host/tap.h"
#include "lib/hdd/durable.h"
#include "lib/hdd/hdd.h"
#include "lib/hdd/saveddir.h"
#include "lib/stringdb/stringdb.h"

using namespace quarrow;

namespace {

enum class Outcome { Done, Renamed, Retry };

// Paths in the module's own memory rather than on the firmware's small stack; no two uses
// of one overlap.
char LookPath[PATH_SIZE];
char NewName[PATH_SIZE];
char Folder[FOLDER_PATH_SIZE];
char FolderOs[PATH_SIZE];
char MovedTo[PATH_SIZE];

// The folders that files were returned to in this pass (OS paths), each synced once at
// the end; one that cannot be kept (no memory) is synced at once.
StringDB Returned;
bool ReturnedSynced = true;

// Names are examined in a folder the host knows as `folder` (null: the current folder)
// and the operating system as `folderOs`.
struct Place {
  const char *folder;
  const char *folderOs;
};
Place InZorvane{nullptr, kRecoveryFolderOs};

bool StatInZorvane(const char *name, struct stat64 *st) {
  return JoinPath(LookPath, sizeof LookPath, {kRecoveryFolderOs, "/", name}) && os::lstat64(LookPath, st) == 0;
}

// After the operating system saw nothing of `name` in `folder` (null: the current one):
// true when the host lists nothing either. A name that cannot be examined but is there
// must not pass for free (a move onto it would replace the file), nor a folder for gone.
bool HostSeesNothing(const char *folder, const char *name) {
  if (folder == nullptr) return !TAP_Hdd_Exist(name);
  SavedDir saved;
  return saved.saved() && HDD_ChangeDir(folder) && !TAP_Hdd_Exist(name);
}

// Free, or held by the very file that belongs there; unknown when it cannot be told. Free
// is thus seen twice, by both looks.
NameState Examine(const char *name, uint64_t inode, void *context) {
  const Place &place = *static_cast<const Place *>(context);
  struct stat64 st;
  if (!JoinPath(LookPath, sizeof LookPath, {place.folderOs, "/", name}) || os::lstat64(LookPath, &st) != 0)
    return HostSeesNothing(place.folder, name) ? NameState::Free : NameState::Unknown;
  return inode != 0 && static_cast<uint64_t>(st.st_ino) == inode ? NameState::Usable : NameState::Taken;
}

// A folder that a file was returned to, to be synced with the others.
void NoteReturned(const char *folderOs) {
  const uint32_t before = Returned.Strings;
  const char *held = StringDBGet(&Returned, StringDBAdd(&Returned, folderOs));
  if (Returned.Strings != before || (held != nullptr && std::strcmp(held, folderOs) == 0)) return;
  ReturnedSynced = MakeDurable(folderOs) && ReturnedSynced;
}

void ForgetReturned() {
  StringDBDestroy(&Returned);
  ReturnedSynced = true;
}

// The intake's moves (both their folders) and the renames in /DataFiles/Zorvane synced:
// two syncs for any number of files, and one for each folder a file was returned to. A
// /Quarrow that is gone holds nothing to sync.
bool RecoveryFoldersDurable() {
  struct stat64 st;
  bool durable = ReturnedSynced;
  for (; !StringDBEOF(&Returned); StringDBNext(&Returned))
    durable = MakeDurable(StringDBGet(&Returned, StringDBCurrent(&Returned))) && durable;
  return durable && MakeDurable(kRecoveryFolderOs) &&
         (os::lstat64(kQuarrowFolderOs, &st) != 0 || MakeDurable(kQuarrowFolderOs));
}

// A step of a recording's folder as lstat64 sees it. When that sees nothing, the host is
// asked in the parent folder: gone only when it sees nothing either, since a folder that
// is there but cannot be examined now must not cost the file its folder for good.
FolderLook LookAt(const char *hostPath, void * /*context*/) {
  struct stat64 st;
  if (JoinPath(LookPath, sizeof LookPath, {kOsPrefix, hostPath}) && os::lstat64(LookPath, &st) == 0)
    return FolderLook{FolderLook::Found, S_ISDIR(st.st_mode), static_cast<uint64_t>(st.st_dev)};
  // The parent and the step's name; the checked path always has a parent below the disk.
  const char *slash = std::strrchr(hostPath, '/');
  if (slash == nullptr || slash == hostPath || !JoinPath(LookPath, sizeof LookPath, {hostPath}))
    return FolderLook{FolderLook::Failed, false, 0};
  LookPath[slash - hostPath] = '\0';
  return FolderLook{HostSeesNothing(LookPath, slash + 1) ? FolderLook::Missing : FolderLook::Failed, false, 0};
}

void LogPassedOver(const char *name, void * /*context*/) {
  TAP_SPrint(LogString, "unusable name '%.200s' in the DB, passed over", name);
  WriteLog(LogString);
}

// Logged; the file stays on the list for the next pass.
Outcome RenameFailed(const RecoveryItem &item, const char *newName) {
  TAP_SPrint(LogString, "failed to rename '%.200s' to '%.200s'", item.target, newName);
  WriteLog(LogString);
  return Outcome::Retry;
}

// Returns the file to the folder where its recording was last seen, under the recording's
// own name, when that folder is a real one and the name is free there. True with the
// outcome when it was dealt with here; false when it stays in /DataFiles/Zorvane (logged
// with the reason) to be named there. Not inlined: its paths stay out of the caller's
// frame on the firmware's stack.
[[gnu::noinline]] bool ReturnToFolder(const RecoveryItem &item, const RecDBEntry &e, const char *recName, MatchKind kind,
                    Outcome *outcome) {
  if (RestoreFolders == 0) return false;
  // Where it belongs is in a file that cannot be read now, or whether it is to go there
  // (both logged): it waits.
  if (Folders_Unread()) {
    *outcome = Outcome::Retry;
    return true;
  }
  if (!Folders_Of(e.RecInode, e.RecSample, Folder)) return false;
  if (RestoreFolders < 0) {
    *outcome = Outcome::Retry;
    return true;
  }
  const FolderState state = Folders_Check(Folder, kInternalDisk, LookAt, nullptr);
  if (state == FolderState::Unknown) {
    TAP_SPrint(LogString, "failed to examine the folder '%.200s' for '%.200s'", Folder, item.target);
    WriteLog(LogString);
    *outcome = Outcome::Retry;
    return true;
  }
  if (state != FolderState::Real) {
    TAP_SPrint(LogString, "folder '%.200s' %s, '%.200s' stays in %s", Folder, Folders_Reason(state), item.target,
               kRecoveryFolder.c_str());
    WriteLog(LogString);
    return false;
  }
  JoinPath(FolderOs, sizeof FolderOs, {kOsPrefix, Folder});  // a kept folder leaves room
  char (&newName)[PATH_SIZE] = NewName;
  Place place{Folder, FolderOs};
  const NameState chosen = ChooseName(e, recName, kind, newName, sizeof newName, Examine, &place, 1);
  if (chosen == NameState::Unknown) {
    TAP_SPrint(LogString, "failed to examine the names for '%.200s' in '%.200s'", item.target, Folder);
    WriteLog(LogString);
    *outcome = Outcome::Retry;
    return true;
  }
  if (chosen != NameState::Free) {
    TAP_SPrint(LogString, "name '%.200s%s' taken in '%.200s', '%.200s' stays in %s", recName, kKindSuffix[kind],
               Folder, item.target, kRecoveryFolder.c_str());
    WriteLog(LogString);
    return false;
  }
  // One rename from the recovery folder into the folder: the file is under one of its two
  // names whenever a cut comes, and the list, which still names it, is kept until both
  // folders are synced.
  struct stat64 st;
  if (!JoinPath(MovedTo, sizeof MovedTo, {FolderOs, "/", newName}) ||
      !JoinPath(LookPath, sizeof LookPath, {kRecoveryFolderOs, "/", item.target}) ||
      os::rename(LookPath, MovedTo) != 0 || os::lstat64(MovedTo, &st) != 0 ||
      static_cast<uint64_t>(st.st_ino) != item.inode) {
    TAP_SPrint(LogString, "failed to move '%.200s' to '%.200s/%.100s'", item.target, Folder, newName);
    WriteLog(LogString);
    *outcome = Outcome::Retry;
    return true;
  }
  NoteReturned(FolderOs);
  TAP_SPrint(LogString, "recovered '%.200s' to '%.200s' in '%.200s'", item.target, newName, Folder);
  WriteLog(LogString);
  *outcome = Outcome::Renamed;
  return true;
}

Outcome RecoverItem(const RecoveryItem &item, bool databaseRead, const MatchIndex *index) {
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

  MatchKind kind = kRecording;
  char recName[128];
  const RecDBEntry *e = FindMatch(RecDB, RecDB_Contiguous(), index, item.inode, SamplesOf(head, sizeof head), &kind,
                                  recName, LogPassedOver, nullptr);
  if (e == nullptr) return Outcome::Done;  // not known: keeps its name
  Outcome returned;
  if (ReturnToFolder(item, *e, recName, kind, &returned)) return returned;

  char (&newName)[PATH_SIZE] = NewName;
  NameState chosen = ChooseName(*e, recName, kind, newName, sizeof newName, Examine, &InZorvane);
  if (chosen != NameState::Free && chosen != NameState::Usable) {
    if (chosen == NameState::Unknown)
      TAP_SPrint(LogString, "failed to examine the names for '%.200s' while recovering", item.target);
    else
      TAP_SPrint(LogString, "no free name for '%.200s' as '%.200s%s'", item.target, recName, kKindSuffix[kind]);
    WriteLog(LogString);
    return Outcome::Retry;
  }
  if (chosen == NameState::Usable) {
    // Got its name back on an earlier pass: nothing to do.
    if (std::strcmp(item.target, newName) == 0) return Outcome::Done;
    // Held by this very file under a second name: a rename would fail or drop a link.
    return RenameFailed(item, newName);
  }
  // Seen free just now, so a host whose rename replaces its target replaces nothing.
  TAP_Hdd_Rename(item.target, newName);
  // What the rename reports is not relied on: the file must now be under the new name.
  if (!StatInZorvane(newName, &st) || static_cast<uint64_t>(st.st_ino) != item.inode)
    return RenameFailed(item, newName);
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
  if (list.count == 0) {
    // A list without entries (this module deletes its empty lists) has nothing left to do.
    if (list.data != nullptr && !RecoveryList_Save(&list)) WriteLog("failed to save the recovery list");
    RecoveryList_Free(&list);
    return 0;
  }

  const bool databaseRead = RecDB_Usable();
  // An index of the database for this pass only; without memory for it each file walks
  // the entries, with the same outcome.
  const int32_t entries = RecDB_Contiguous();
  const uint32_t slots = databaseRead && entries > 0 ? MatchIndexSlots(entries) : 0;
  uint32_t *table = slots != 0 ? static_cast<uint32_t *>(TAP_MemAlloc(slots * sizeof(uint32_t))) : nullptr;
  MatchIndex index{};
  if (table != nullptr) index = BuildMatchIndex(RecDB, entries, table);
  int result = 0;
  bool keepWholeList = false;
  RecoveryItem item;
  for (uint32_t at = 0; RecoveryList_Next(&list, &at, &item);) {
    Outcome outcome = RecoverItem(item, databaseRead, table != nullptr ? &index : nullptr);
    if (outcome == Outcome::Renamed) result = 1;
    // Without memory for the shorter list, the whole list stays: its finished entries
    // are passed over next time.
    if (outcome == Outcome::Retry && !RecoveryList_Add(&left, item.inode, item.source, item.target))
      keepWholeList = true;
  }
  // The list says what is left to do: what was moved and renamed must be on the disk before
  // the list stops saying so.
  if (!keepWholeList && !RecoveryFoldersDurable()) {
    WriteLog("failed to sync the folders, the recovery list stays");
    keepWholeList = true;
  }
  if (!keepWholeList && !RecoveryList_Save(&left)) WriteLog("failed to save the recovery list");
  if (table != nullptr) TAP_MemFree(table);
  ForgetReturned();
  RecoveryList_Free(&left);
  RecoveryList_Free(&list);
  return result;
}
