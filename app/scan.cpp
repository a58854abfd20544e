// Keeps the fingerprint database up to date with the recordings under /DataFiles: the
// whole tree on the device of the internal disk on the first call after a load,
// /DataFiles alone on every later call.
#include <cstring>

#include "app/folders.h"
#include "app/matching.h"
#include "app/quarrow.h"
#include "app/seenfiles.h"
#include "host/hostfile.h"
#include "host/os.h"
#include "host/paths.h"
#include "host/tap.h"
#include "lib/hdd/hdd.h"
#include "lib/stringdb/stringdb.h"
#include "lib/text/text.h"

using namespace quarrow;

namespace {

int32_t FirstCall = 1;

constexpr uint32_t kMaxFolders = 1000;  // checked before each folder: at most 1001 are listed

void LogPathTooLong(const char *folder, const char *name) {
  TAP_SPrint(LogString, "path too long, skipped '%.200s/%.200s' while scanning", folder, name);
  WriteLog(LogString);
}

// Queue a sub-folder when it lies on the internal disk. Not inlined, like ScanRecording:
// their paths stay out of the walk's own frame.
[[gnu::noinline]] void QueueSubFolder(StringDB *queue, const char *folder, const char *name) {
  // The host path is the system path without its prefix: one buffer holds both.
  char osPath[PATH_SIZE];
  if (!JoinPath(osPath, sizeof osPath, {kOsPrefix, folder, "/", name})) {
    LogPathTooLong(folder, name);
    return;
  }
  struct stat64 st;
  if (os::lstat64(osPath, &st) == 0 && st.st_dev == kInternalDisk) StringDBAdd(queue, osPath + sizeof kOsPrefix - 1);
}

void LogFileFailure(const char *what, const char *name, const char *suffix) {
  TAP_SPrint(LogString, "failed to %s '%.400s%s' while scanning", what, name, suffix);
  WriteLog(LogString);
}

// The head of a file of the current folder: 1 read, 0 could not be opened (logged),
// -1 the read failed (logged).
int ReadHeadOf(const char *name, const char *suffix, uint8_t (&head)[HostFile::HEAD_SIZE]) {
  char fileName[PATH_SIZE];
  // The recording's paths were checked to leave room for the suffix.
  JoinPath(fileName, sizeof fileName, {name, suffix});
  HostFile file(fileName);
  if (!file) {
    LogFileFailure("open", name, suffix);
    return 0;
  }
  if (!file.ReadHead(head)) {
    LogFileFailure("read", name, suffix);
    return -1;
  }
  return 1;
}

// A companion's inode and sample. False when its read failed: the recording's fingerprint
// must not be stored from it.
bool SampleCompanion(const char *osPath, const char *name, MatchKind kind, const RecDBEntry &entry, uint64_t *inode,
                     uint32_t *sample) {
  const char *suffix = kKindSuffix[kind];
  char companionOs[PATH_SIZE];
  JoinPath(companionOs, sizeof companionOs, {osPath, suffix});
  struct stat64 st;
  if (os::lstat64(companionOs, &st) != 0) return true;
  *inode = static_cast<uint64_t>(st.st_ino);
  if (SeenFiles_Sample(entry.RecInode, kind, st, sample)) return true;
  uint8_t head[HostFile::HEAD_SIZE];
  int read = ReadHeadOf(name, suffix, head);
  if (read < 0) return false;
  if (read > 0) {
    *sample = SampleOf(head, sizeof head, kind);
    SeenFiles_Keep(entry.RecInode, kind, st, *sample);
    return true;
  }
  // Could not be opened: a stored sample of the same file stays as it is.
  const RecDBEntry *known = RecDB_Find(entry.RecInode, entry.RecSample);
  if (known != nullptr) {
    const uint64_t knownInode = kind == kInf ? known->InfInode : known->NavInode;
    if (knownInode == *inode) *sample = kind == kInf ? known->InfSample : known->NavSample;
  }
  return true;
}

// Fingerprints one recording of the current folder; the result of RecDB_Add, or 0.
[[gnu::noinline]] int ScanRecording(const char *folder, const char *name) {
  char osPath[PATH_SIZE];
  // Room for ".inf"/".nav" is kept so the companions' paths fit as well.
  if (!JoinPath(osPath, sizeof osPath - 4, {kOsPrefix, folder, "/", name})) {
    LogPathTooLong(folder, name);
    return 0;
  }
  struct stat64 st;
  if (os::lstat64(osPath, &st) != 0) {
    TAP_SPrint(LogString, "failed to stat '%.470s' while scanning", osPath);
    WriteLog(LogString);
    return 0;
  }

  RecDBEntry entry;
  TAP_MemSet(&entry, 0, sizeof entry);
  entry.RecInode = static_cast<uint64_t>(st.st_ino);
  JoinPath(entry.RecName, sizeof entry.RecName, {name});  // names are at most 127 bytes
  // Read only when it changed since a scan of this load read it.
  if (!SeenFiles_Sample(entry.RecInode, kRecording, st, &entry.RecSample)) {
    uint8_t head[HostFile::HEAD_SIZE];
    if (ReadHeadOf(name, "", head) <= 0) return 0;
    entry.RecSample = SampleOf(head, sizeof head, kRecording);
    SeenFiles_Keep(entry.RecInode, kRecording, st, entry.RecSample);
  }
  if (!SampleCompanion(osPath, name, kInf, entry, &entry.InfInode, &entry.InfSample) ||
      !SampleCompanion(osPath, name, kNav, entry, &entry.NavInode, &entry.NavSample))
    return 0;
  // Where it is now, for a recovery that returns it here (only while that is asked for).
  Folders_Note(entry.RecInode, entry.RecSample, folder);
  return RecDB_Add(&entry);
}

}  // namespace

int CrossCheckDataFilesWithDB() {
  StringDB queue;
  StringDBInit(&queue, 1024);
  StringDBAdd(&queue, kDataFiles);
  if (StringDBEOF(&queue) || !StringDBGet(&queue, StringDBCurrent(&queue))) {
    // No memory for the queue: nothing is walked, and the next call is again a first one.
    StringDBDestroy(&queue);
    WriteLog("failed to reserve memory while scanning");
    return 0;
  }

  SeenFiles_BeginScan();
  int result = 0;
  uint32_t folders = 0;
  HddFolderEntry entry;
  char name[sizeof entry.name];
  // The folder is always looked up afresh: an add may move the queue's storage.
  auto current = [&queue]() { return StringDBGet(&queue, StringDBCurrent(&queue)); };

  while (!StringDBEOF(&queue)) {
    if (folders > kMaxFolders) {
      WriteLog("endless loop exit while scanning");
      break;
    }
    ++folders;
    // Listing whatever folder we are left in would fingerprint its files under this
    // folder's paths: a folder that cannot be entered is passed over.
    if (!HDD_ChangeDir(current())) {
      StringDBNext(&queue);
      continue;
    }

    std::memset(&entry, 0, sizeof entry);
    int count = TAP_Hdd_FindFirst(&entry, "rec|mpg");
    for (int i = 0; i < count; ++i) {
      CopyText(name, entry.name);  // terminated even when the host filled the field
      // A host may list the folder itself and its parent: the walk must not climb out.
      if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) {
      } else if (entry.attr == ATTR_FOLDER) {
        if (FirstCall) QueueSubFolder(&queue, current(), name);
      } else if (entry.attr == ATTR_FILE) {
        result |= ScanRecording(current(), name);
      }
      TAP_Hdd_FindNext(&entry);
    }
    StringDBNext(&queue);
  }

  StringDBDestroy(&queue);
  SeenFiles_EndScan();
  FirstCall = 0;
  return result;
}
