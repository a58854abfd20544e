// Intake of the file-system check's recovery folder: notice what it holds and move all
// of it into our data folder. A move within one file system keeps every inode number,
// which is what the recovery matches on.
//
// Every entry is listed in the recovery list before anything moves, and moved on its own
// with the operating system's rename: no shell command line to outgrow, and a name that
// is taken in /DataFiles/Zorvane is never overwritten (the entry gets a free name).
#include <cstring>

#include "app/names.h"
#include "app/quarrow.h"
#include "app/recoverylist.h"
#include "app/slots.h"
#include "host/os.h"
#include "host/paths.h"
#include "host/tap.h"
#include "lib/hdd/durable.h"

using namespace quarrow;

int isNewLostAndFound() {
  DIR *dir = os::opendir(kQuarrowFolderOs);
  if (!dir) return 0;
  // Names that begin with a dot (".", ".." among them) are not moved, so they are not
  // news either: a folder holding only such names would announce itself at every start.
  int32_t count = 0;
  while (const struct dirent *e = os::readdir(dir))
    if (e->d_name[0] != '.') ++count;
  os::closedir(dir);
  if (count == 0) return 0;
  TAP_SPrint(LogString, "found %d new files in the Quarrow folder", static_cast<int>(count));
  WriteLog(LogString);
  return 1;
}

namespace {

constexpr uint32_t kMaxNumbered = 999;
constexpr auto kMakeRecoveryFolder = JoinText("mkdir ", kRecoveryFolderOs);

// A real folder, not a link: a link could lead off the disk.
bool IsRealFolder(const char *path) {
  struct stat64 st;
  return os::lstat64(path, &st) == 0 && S_ISDIR(st.st_mode);
}

// Paths in the module's own memory rather than on the firmware's small stack: a look at a
// name, a chosen target, a move's two ends. No two uses of one overlap.
char LookPath[PATH_SIZE];
char TargetName[PATH_SIZE];
char MoveFrom[PATH_SIZE], MoveTo[PATH_SIZE];

bool Lstat(const char *folderOs, const char *name, struct stat64 *st) {
  return JoinPath(LookPath, sizeof LookPath, {folderOs, "/", name}) && os::lstat64(LookPath, st) == 0;
}

bool WalkForTarget(const RecoveryList &list, const char *name) {
  RecoveryItem item;
  for (uint32_t at = 0; RecoveryList_Next(&list, &at, &item);) {
    if (std::strcmp(item.target, name) == 0) return true;
  }
  return false;
}

bool WalkForInode(const RecoveryList &list, uint32_t end, uint64_t inode) {
  RecoveryItem item;
  for (uint32_t at = 0; at < end && RecoveryList_Next(&list, &at, &item);) {
    if (item.inode == inode) return true;
  }
  return false;
}

uint32_t HashName(const char *name) {
  uint32_t h = 2166136261u;
  for (; *name != '\0'; ++name) h = (h ^ static_cast<uint8_t>(*name)) * 16777619u;
  return HashKey(h, 0);
}

// The list's entries by inode or by target name (offset + 1 in the list's bytes, which
// stay valid as the list grows), for one intake; walking the list for every entry would
// cost the square of the entries. Grows by doubling; without memory it is given up and
// the list is walked, with the same outcome.
class ListIndex {
 public:
  enum Key { ByInode, ByTarget };
  ListIndex(const RecoveryList &list, Key key) : list_(list), key_(key) {}
  ~ListIndex() { Drop(); }
  ListIndex(const ListIndex &) = delete;
  ListIndex &operator=(const ListIndex &) = delete;

  void Add(uint32_t offset) {
    if (failed_) return;
    if ((used_ + 1) * 4 > size_ * 3 && !Grow()) return;
    Insert(offset);
    ++used_;
  }

  // Only for a usable index.
  bool usable() const { return !failed_; }

  bool HasInode(uint64_t inode) const {
    if (slots_ == nullptr) return false;  // nothing added yet
    RecoveryItem item;
    for (uint32_t h = HashKey(inode, 0) & (size_ - 1); slots_[h] != 0; h = (h + 1) & (size_ - 1))
      if (ItemAt(slots_[h] - 1, &item) && item.inode == inode) return true;
    return false;
  }

  bool HasTarget(const char *name) const {
    if (slots_ == nullptr) return false;
    RecoveryItem item;
    for (uint32_t h = HashName(name) & (size_ - 1); slots_[h] != 0; h = (h + 1) & (size_ - 1))
      if (ItemAt(slots_[h] - 1, &item) && std::strcmp(item.target, name) == 0) return true;
    return false;
  }

 private:
  bool ItemAt(uint32_t offset, RecoveryItem *item) const { return RecoveryList_Next(&list_, &offset, item); }

  uint32_t HashOf(uint32_t offset) const {
    RecoveryItem item;
    if (!ItemAt(offset, &item)) return 0;
    return key_ == ByInode ? HashKey(item.inode, 0) : HashName(item.target);
  }

  void Insert(uint32_t offset) {
    uint32_t h = HashOf(offset) & (size_ - 1);
    while (slots_[h] != 0) h = (h + 1) & (size_ - 1);
    slots_[h] = offset + 1;
  }

  bool Grow() {
    const uint32_t size = SlotsFor(size_ < 16 ? 16 : size_);
    auto *slots = size != 0 && size > size_ ? static_cast<uint32_t *>(TAP_MemAlloc(size * sizeof(uint32_t))) : nullptr;
    if (slots == nullptr) {
      Drop();
      failed_ = true;
      return false;
    }
    std::memset(slots, 0, size_t{size} * sizeof(uint32_t));
    uint32_t *old = slots_;
    const uint32_t oldSize = size_;
    slots_ = slots;
    size_ = size;
    for (uint32_t i = 0; i < oldSize; ++i)
      if (old[i] != 0) Insert(old[i] - 1);
    if (old != nullptr) TAP_MemFree(old);
    return true;
  }

  void Drop() {
    if (slots_ != nullptr) TAP_MemFree(slots_);
    slots_ = nullptr;
    size_ = 0;
    used_ = 0;
  }

  const RecoveryList &list_;
  Key key_;
  uint32_t *slots_ = nullptr;
  uint32_t size_ = 0;
  uint32_t used_ = 0;
  bool failed_ = false;
};

bool IsListedTarget(const RecoveryList &list, const ListIndex &targets, const char *name) {
  return targets.usable() ? targets.HasTarget(name) : WalkForTarget(list, name);
}

bool IsListedInode(const RecoveryList &list, const ListIndex &inodes, uint32_t end, uint64_t inode) {
  return inodes.usable() ? inodes.HasInode(inode) : WalkForInode(list, end, inode);
}

// The name `name` moves under: itself when nothing in the folder or on the list holds it,
// else the first free numbered name. Entries listed by an earlier load (before `fresh`)
// may not have moved yet; of this load's entries only numbered names can collide, since
// names in one folder differ.
bool ChooseTarget(const RecoveryList &list, const ListIndex &targets, uint32_t fresh, bool numberedSoFar,
                  const char *name, char (&out)[PATH_SIZE]) {
  struct stat64 st;
  for (uint32_t k = 1; k <= kMaxNumbered; ++k) {
    if (k == 1) {
      if (JoinPath(out, sizeof out, {name}) == false) return false;
    } else if (!NumberedName(out, sizeof out, name, k)) {
      return false;
    }
    if (Lstat(kRecoveryFolderOs, out, &st)) continue;
    // Checked against the list only where a collision is possible.
    if ((k > 1 || numberedSoFar || fresh > 0) && IsListedTarget(list, targets, out)) continue;
    return true;
  }
  return false;
}

// Lists every entry of /mnt/hd/Quarrow that is not on the list yet. Names starting with a
// dot stay, as the shell's "*" would leave them.
void ListNewEntries(RecoveryList *list) {
  DIR *dir = os::opendir(kQuarrowFolderOs);
  if (!dir) return;
  const uint32_t earlier = list->count;
  const uint32_t earlierEnd = list->size;
  ListIndex inodes(*list, ListIndex::ByInode), targets(*list, ListIndex::ByTarget);
  RecoveryItem item;
  for (uint32_t at = 0, offset = 0; RecoveryList_Next(list, &at, &item); offset = at) {
    inodes.Add(offset);
    targets.Add(offset);
  }
  bool numbered = false;
  while (struct dirent *e = os::readdir(dir)) {
    const char *name = e->d_name;
    if (name[0] == '.') continue;
    struct stat64 st;
    if (!Lstat(kQuarrowFolderOs, name, &st)) {
      TAP_SPrint(LogString, "failed to stat '%.400s' in the Quarrow folder, not moved", name);
      WriteLog(LogString);
      continue;
    }
    const uint64_t inode = static_cast<uint64_t>(st.st_ino);
    if (earlier > 0 && IsListedInode(*list, inodes, earlierEnd, inode)) continue;
    char (&target)[PATH_SIZE] = TargetName;
    if (!IsPlainName(name) || !ChooseTarget(*list, targets, earlier, numbered, name, target)) {
      TAP_SPrint(LogString, "no free name for '%.400s' in /DataFiles/Zorvane, not moved", name);
      WriteLog(LogString);
      continue;
    }
    if (std::strcmp(target, name) != 0) numbered = true;
    const uint32_t offset = list->size;
    if (RecoveryList_Add(list, inode, name, target)) {
      targets.Add(offset);
    } else {
      TAP_SPrint(LogString, "failed to list '%.400s' for the recovery, not moved", name);
      WriteLog(LogString);
    }
  }
  os::closedir(dir);
}

// Moves one listed entry that is still in /mnt/hd/Quarrow; false when it stays there. An
// entry listed by this load was looked at just now; one from an earlier load may have moved.
bool MoveEntry(const RecoveryItem &item, bool listedNow) {
  struct stat64 st;
  if (!listedNow && (!Lstat(kQuarrowFolderOs, item.source, &st) || static_cast<uint64_t>(st.st_ino) != item.inode)) {
    return true;  // moved already, or gone
  }
  char (&from)[PATH_SIZE] = MoveFrom;
  char (&to)[PATH_SIZE] = MoveTo;
  if (!JoinPath(from, sizeof from, {kQuarrowFolderOs, "/", item.source}) ||
      !JoinPath(to, sizeof to, {kRecoveryFolderOs, "/", item.target}))
    return false;
  if (os::lstat64(to, &st) == 0) {
    TAP_SPrint(LogString, "'%.200s' is taken in /DataFiles/Zorvane, '%.200s' stays in the Quarrow folder",
               item.target, item.source);
    WriteLog(LogString);
    return false;
  }
  if (os::rename(from, to) != 0) {
    TAP_SPrint(LogString, "failed to move '%.400s' out of the Quarrow folder", item.source);
    WriteLog(LogString);
    return false;
  }
  if (std::strcmp(item.source, item.target) != 0) {
    TAP_SPrint(LogString, "'%.200s' is taken in /DataFiles/Zorvane, moved as '%.200s'", item.source, item.target);
    WriteLog(LogString);
  }
  return true;
}

}  // namespace

int MoveAllLostAndFoundFiles() {
  if (!IsRealFolder(kDataFilesOs)) {
    WriteLog("/DataFiles is not a folder, nothing moved");
    return -1;
  }
  // Only when missing: the shell would complain on the terminal every time. The new folder
  // must outlast a cut, as what is moved into it does.
  if (!IsRealFolder(kRecoveryFolderOs)) {
    os::system(kMakeRecoveryFolder);
    if (IsRealFolder(kRecoveryFolderOs) && !MakeDurable(kDataFilesOs)) {
      WriteLog("failed to make /DataFiles/Zorvane durable, nothing moved");
      return -1;
    }
  }
  if (!IsRealFolder(kRecoveryFolderOs) || !IsRealFolder(kQuarrowFolderOs)) {
    WriteLog("/DataFiles/Zorvane or /Quarrow is not a folder, nothing moved");
    return -1;
  }

  RecoveryList list;
  if (!RecoveryList_Load(&list)) {
    WriteLog("nothing moved");
    return -1;
  }
  const uint32_t before = list.count;
  const uint32_t earlierEnd = list.size;
  ListNewEntries(&list);
  // Nothing moves that the list does not hold: a recovery cut off later is finished from it.
  if (list.count != before && !RecoveryList_Save(&list)) {
    WriteLog("failed to save the recovery list, nothing moved");
    RecoveryList_Free(&list);
    return -1;
  }
  int result = 0;
  RecoveryItem item;
  for (uint32_t at = 0, offset = 0; RecoveryList_Next(&list, &at, &item); offset = at) {
    if (!MoveEntry(item, offset >= earlierEnd)) result = -1;
  }
  RecoveryList_Free(&list);
  return result;
}
