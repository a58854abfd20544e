// quarrow-db: shows and checks a Quarrow.db, and plans a recovery on a recorder's disk
// without changing it. Every rule it applies (which records a load keeps, which entry a
// file matches, which name it gets, how the recovery list reads) is the module's own code
// from app/, so that what it predicts is what the module does.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <functional>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "app/folders_format.h"
#include "app/matching.h"
#include "app/names.h"
#include "app/recdb_format.h"
#include "app/recoverylist.h"
#include "host/folders.h"
#include "host/paths.h"
#include "lib/ini/ini.h"
#include "tools/quarrow-db/module_start.h"

namespace {

using namespace quarrow;

constexpr int kExitSound = 0, kExitDamaged = 1, kExitUsage = 2;

// The commands, for --help and the argument check; man/quarrow-db.1 says the same at length.
struct Command {
  const char *name, *arguments, *summary;
  bool file, disk, json, changes;  // takes FILE, --disk DIR, --json; --yes and --clock
};
constexpr Command kCommands[] = {
    {"show", "FILE [--json]", "show a Quarrow.db: its header, every fingerprint and its folder, and what a load keeps",
     true, false, true, false},
    {"check", "FILE", "check a Quarrow.db: exit 0 when sound, 1 when damaged, with what is wrong", true, false,
     false, false},
    {"plan", "--disk DIR [--json]",
     "show the name and folder each orphaned file on a recorder's disk would get, changing nothing", false, true, true,
     false},
    {"restore-folders", "--disk DIR [on|off]",
     "say whether the module returns recovered recordings into their folders (RestoreFolders), or turn it on or off",
     false, true, false, false},
    {"recover", "--disk DIR [--yes] [--clock TIME]",
     "give orphaned files in DIR/lost+found and DIR/Quarrow their names and folders back by the module's own "
     "recovery",
     false, true, false, true},
};

// ---------------------------------------------------------------- output of disk bytes

// Bytes as they are, control characters and the backslash made visible.
std::string Visible(const std::string &bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c == '\\') {
      out += "\\\\";
    } else if (c < 0x20 || c == 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

// A JSON string of bytes taken as ISO 8859-1: everything outside printable ASCII as \u00XX.
std::string Json(const std::string &bytes) {
  std::string out = "\"";
  for (unsigned char c : bytes) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\u%04x", c);
      out += hex;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

std::string JsonOrNull(const std::optional<std::string> &s) { return s ? Json(*s) : "null"; }

std::string Hex(uint32_t word) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08" PRIx32, word);
  return text;
}

// ---------------------------------------------------------------- reading the disk

// A read or write that failed, for the one line main prints before it exits 2. The disk a
// user brings to this tool may well be failing, and what the module would make of a failed
// read is no prediction worth printing.
struct IoFailure {
  std::string path, reason;
};

[[noreturn]] void Fail(const std::string &path, int error) { throw IoFailure{path, std::strerror(error)}; }

// Up to `limit` bytes from the start of a file, fewer when it is shorter.
std::string ReadUpTo(const std::string &path, size_t limit) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Fail(path, errno);
  std::string bytes;
  char chunk[65536];
  while (bytes.size() < limit) {
    const ssize_t n = read(fd, chunk, std::min(sizeof chunk, limit - bytes.size()));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      close(fd);
      Fail(path, error);
    }
    if (n == 0) break;
    bytes.append(chunk, static_cast<size_t>(n));
  }
  close(fd);
  return bytes;
}

enum class Read { Ok, Missing, Folder, NotAFile };

// The whole of a plain file (its first `limit` bytes). A missing file and one that is not
// a plain file (which the module sets aside) are answers; every other failure is thrown.
Read ReadWhole(const std::string &path, std::string *bytes, size_t limit = SIZE_MAX) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return Read::Missing;
    Fail(path, errno);
  }
  if (!S_ISREG(st.st_mode)) return S_ISDIR(st.st_mode) ? Read::Folder : Read::NotAFile;
  *bytes = ReadUpTo(path, limit);
  return Read::Ok;
}

// For show and check, a file that is not there or not a plain file is an error too.
std::string ReadDatabaseFile(const std::string &path) {
  std::string bytes;
  switch (ReadWhole(path, &bytes)) {
    case Read::Ok: return bytes;
    case Read::Missing: Fail(path, ENOENT);
    case Read::Folder: Fail(path, EISDIR);
    case Read::NotAFile: break;
  }
  throw IoFailure{path, "not a plain file"};
}

std::string ReadHead(const std::string &path) { return ReadUpTo(path, HEAD_BYTES); }

// ---------------------------------------------------------------- the database

struct Database {
  uint32_t length = 0;
  DbLayout layout{};
  std::vector<RecDBEntry> records;  // every whole record of the file, as stored
  std::vector<DbRecord> states;     // what the load makes of each
  std::vector<RecDBEntry> kept;     // what the load keeps, in its order
  bool loadsAsIs = false;           // the module's load takes the file as it stands
  std::vector<std::string> problems;  // what no file the module writes has: the verdict
};

// The one verdict behind show's "sound" and check's exit status: a file is sound when it
// is one the module could have written, nothing less.
bool Sound(const Database &db) { return db.problems.empty(); }

bool AllZero(const RecDBEntry &e) {
  const auto *p = reinterpret_cast<const uint8_t *>(&e);
  for (size_t i = 0; i < sizeof e; ++i)
    if (p[i] != 0) return false;
  return true;
}

// Per-record findings, the first few by number and the rest counted, so that a file of
// garbage does not flood the terminal.
class RecordFindings {
 public:
  explicit RecordFindings(std::vector<std::string> *problems) : problems_(problems) {}
  ~RecordFindings() {
    if (more_ > 0) problems_->push_back("and " + std::to_string(more_) + " more such records");
  }
  void Add(const std::string &text) {
    if (shown_ < kShown) {
      problems_->push_back(text);
      ++shown_;
    } else {
      ++more_;
    }
  }

 private:
  static constexpr size_t kShown = 20;
  std::vector<std::string> *problems_;
  size_t shown_ = 0, more_ = 0;
};

// What the module's load makes of these bytes, and everything in them that the module
// never writes.
Database Examine(const std::string &bytes) {
  Database db;
  db.length = bytes.size() > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(bytes.size());
  uint32_t header[DB_HEADER_WORDS] = {0, 0, 0};
  if (db.length >= DB_HEADER_SIZE) std::memcpy(header, bytes.data(), DB_HEADER_SIZE);
  db.layout = DB_Layout(db.length, header);
  const DbLayout &l = db.layout;
  db.records.resize(l.present);
  if (l.present > 0) std::memcpy(static_cast<void *>(db.records.data()), bytes.data() + DB_HEADER_SIZE,
                                 static_cast<size_t>(l.present) * DB_ENTRY_SIZE);
  db.states.assign(l.present, DbRecord::Damaged);

  if (!l.hasHeader) db.problems.push_back("shorter than its 12-byte header (" + std::to_string(db.length) + " bytes)");
  if (!l.versionKnown) {
    db.problems.push_back("unexpected DB version " + std::to_string(l.version) + ": none of its records is read");
    return db;
  }
  bool extra = false;
  if (!(l.exact && l.capacity == 0) && l.present > 0) {
    std::vector<RecDBEntry> array(static_cast<size_t>(l.arraySize > 0 ? l.arraySize : 0) > l.present
                                      ? static_cast<size_t>(l.arraySize)
                                      : l.present);
    std::memcpy(static_cast<void *>(array.data()), db.records.data(), static_cast<size_t>(l.present) * DB_ENTRY_SIZE);
    std::vector<uint32_t> slots(DB_KeepSlots(l.present));
    int32_t kept = DB_KeepRecords(array.data(), l.present, l.inUse, &extra, db.states.data(), slots.data(),
                                  static_cast<uint32_t>(slots.size()));
    db.kept.assign(array.begin(), array.begin() + kept);
  }
  db.loadsAsIs = DB_Sound(l, extra);
  if (l.hasHeader && !l.sane) {
    db.problems.push_back("header not valid: capacity " + std::to_string(l.capacity) + ", count " +
                          std::to_string(l.count));
  } else if (l.sane && !l.exact) {
    db.problems.push_back("the file is " + std::to_string(db.length) + " bytes, its header announces " +
                          std::to_string(DB_HEADER_SIZE + static_cast<uint64_t>(l.capacity) * DB_ENTRY_SIZE));
  }
  if (l.hasHeader && (db.length - DB_HEADER_SIZE) % DB_ENTRY_SIZE != 0)
    db.problems.push_back("the last record is cut short");
  size_t extras = 0, duplicates = 0, damaged = 0;
  {
    RecordFindings findings(&db.problems);
    // The module never keeps two entries of one identity: its add refreshes the first.
    std::map<std::pair<uint64_t, uint32_t>, uint32_t> identities;
    for (uint32_t i = 0; i < l.present; ++i) {
      const RecDBEntry &e = db.records[i];
      if (db.states[i] == DbRecord::Extra) ++extras;
      if (db.states[i] == DbRecord::Duplicate) ++duplicates;
      if (db.states[i] == DbRecord::Damaged && !AllZero(e)) ++damaged;
      if (db.states[i] != DbRecord::Declared) continue;
      // A record within the count that the module could not have written: kept as it is.
      if (!DB_Plausible(e))
        findings.Add("record " + std::to_string(i) + " within the count does not look like one the module writes");
      const auto [at, isNew] = identities.try_emplace({e.RecInode, e.RecSample}, i);
      if (!isNew)
        findings.Add("duplicate identity: record " + std::to_string(i) + " repeats record " +
                     std::to_string(at->second) + " (recording inode " + std::to_string(e.RecInode) + ", sample " +
                     Hex(e.RecSample) + ")");
    }
  }
  if (extras > 0) db.problems.push_back(std::to_string(extras) + " sound records beyond the count");
  if (duplicates > 0) db.problems.push_back(std::to_string(duplicates) + " repeated records beyond the count");
  if (damaged > 0) db.problems.push_back(std::to_string(damaged) + " damaged records beyond the count");
  return db;
}

// ---------------------------------------------------------------- the folders

// Quarrow.folders as the module's load keeps it: each recording's folder by its identity.
struct Folders {
  enum class File { Missing, NotAFile, Sound, Damaged, UnknownVersion } file = File::Missing;
  uint32_t version = 0;
  std::map<std::pair<uint64_t, uint32_t>, std::string> of;  // (rec inode, sample) -> host path

  const std::string *Of(uint64_t inode, uint32_t sample) const {
    auto it = of.find({inode, sample});
    return it != of.end() ? &it->second : nullptr;
  }
};

const char *FileText(Folders::File f) {
  switch (f) {
    case Folders::File::Missing: return "missing";
    case Folders::File::NotAFile: return "not a plain file";
    case Folders::File::Sound: return "sound";
    case Folders::File::Damaged: return "damaged";
    case Folders::File::UnknownVersion: return "unknown version";
  }
  return "";
}

// What the file means for the folders, for show's header and plan's notes.
std::string FoldersText(const Folders &f) {
  const std::string kept = std::to_string(f.of.size());
  switch (f.file) {
    case Folders::File::Missing: return "no Quarrow.folders: no folder is known";
    case Folders::File::NotAFile:
      return "Quarrow.folders is not a plain file: the module sets it aside, no folder is known";
    case Folders::File::Sound: return "Quarrow.folders: sound, the folders of " + kept + " recordings";
    case Folders::File::Damaged:
      return "Quarrow.folders: damaged, the module keeps the folders of " + kept +
             " recordings (\"damaged folder file, kept " + kept + " folders\")";
    case Folders::File::UnknownVersion:
      return "Quarrow.folders: unexpected version " + std::to_string(f.version) + ", the module keeps no folder";
  }
  return "";
}

// The module's load: a folder it would not keep (or one in the recovery folder) is dropped
// with its records, and of two records of one identity the first counts.
struct FolderLoad {
  Folders *out;
  std::vector<std::optional<std::string>> byIndex;
  bool damaged = false;
};

bool TakeFolder(void *context, uint32_t index, const char *path, uint32_t length, bool valid) {
  auto &c = *static_cast<FolderLoad *>(context);
  if (c.byIndex.size() <= index) c.byIndex.resize(index + 1);
  if (valid) c.byIndex[index] = std::string(path, length);
  else c.damaged = true;
  return true;
}

bool TakeRecord(void *context, const FolderRecord &record) {
  auto &c = *static_cast<FolderLoad *>(context);
  if (record.folder >= c.byIndex.size() || !c.byIndex[record.folder]) return true;
  if (!c.out->of.try_emplace({record.inode, record.sample}, *c.byIndex[record.folder]).second) c.damaged = true;
  return true;
}

// Quarrow.folders in `folder` as the module finds it: a name that is no plain file is set
// aside, and the previous file of a replace cut off between its renames is taken.
Folders LoadFolders(const std::string &folder) {
  Folders f;
  std::string bytes;
  // The module reads no file longer than the largest it writes: no more is needed to tell.
  const uint64_t most = Folders_FileSize(FOLDERS_MAX_FOLDERS * (2 + FOLDER_PATH_MAX), FOLDERS_MAX_RECORDS);
  Read r = ReadWhole(folder + "/" + kFoldersFile, &bytes, most + 1);
  const bool setAside = r == Read::Folder || r == Read::NotAFile;
  if (r != Read::Ok) r = ReadWhole(folder + "/" + kFoldersFile + ".bak", &bytes, most + 1);
  if (r != Read::Ok) {
    f.file = setAside || r != Read::Missing ? Folders::File::NotAFile : Folders::File::Missing;
    return f;
  }
  f.file = Folders::File::Damaged;
  if (bytes.size() > most) return f;
  FolderLoad load{&f, {}, false};
  const FoldersParse parse = Folders_Parse(reinterpret_cast<const uint8_t *>(bytes.data()),
                                           static_cast<uint32_t>(bytes.size()), TakeFolder, TakeRecord, &load);
  f.version = parse.version;
  if (parse.headerSound && !parse.versionKnown) f.file = Folders::File::UnknownVersion;
  else if (parse.exact && !load.damaged) f.file = Folders::File::Sound;
  return f;
}

// The folder part of a path ("." for a bare name).
std::string FolderOf(const std::string &path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const RecDBEntry &e) { return std::string(e.RecName, strnlen(e.RecName, sizeof e.RecName)); }

bool Kept(const Database &db, uint32_t i) {
  return db.states[i] == DbRecord::Declared || db.states[i] == DbRecord::Extra;
}

// Rows worth showing: every record within the count, and the non-zero ones behind it
// (the zero ones are the unused capacity).
bool Shown(const Database &db, uint32_t i) { return i < db.layout.inUse || !AllZero(db.records[i]); }

const char *StateText(const Database &db, uint32_t i) {
  bool plausible = DB_Plausible(db.records[i]);
  if (!db.layout.versionKnown) return "not read";
  switch (db.states[i]) {
    case DbRecord::Declared: return plausible ? "" : "looks damaged, kept as it is";
    case DbRecord::Extra: return "beyond the count, kept";
    case DbRecord::Duplicate: return "beyond the count, repeated: dropped";
    case DbRecord::Damaged: return "damaged: dropped";
  }
  return "";
}

int Show(const std::string &path, bool json) {
  const Database db = Examine(ReadDatabaseFile(path));
  const DbLayout &l = db.layout;
  // The folders beside it are the module's too, but not part of the verdict on the database.
  const Folders folders = LoadFolders(FolderOf(path));
  auto folderOf = [&](const RecDBEntry &e) {
    const std::string *f = folders.Of(e.RecInode, e.RecSample);
    return f != nullptr ? std::optional<std::string>(*f) : std::nullopt;
  };
  if (json) {
    std::string out = "{\"version\": " + std::to_string(l.version) + ", \"capacity\": " + std::to_string(l.capacity) +
                      ", \"count\": " + std::to_string(l.count) + ", \"bytes\": " + std::to_string(db.length) +
                      ", \"sound\": " + (Sound(db) ? "true" : "false") + ", \"kept\": " + std::to_string(db.kept.size()) +
                      ", \"folders\": {\"file\": " + Json(FileText(folders.file)) +
                      ", \"kept\": " + std::to_string(folders.of.size()) + "}, \"entries\": [";
    bool first = true;
    for (uint32_t i = 0; i < l.present; ++i) {
      if (!Shown(db, i)) continue;
      const RecDBEntry &e = db.records[i];
      out += first ? "\n  " : ",\n  ";
      first = false;
      out += "{\"index\": " + std::to_string(i) + ", \"name\": " + Json(NameOf(e)) +
             ", \"rec_inode\": " + std::to_string(e.RecInode) + ", \"rec_sample\": " + std::to_string(e.RecSample) +
             ", \"inf_inode\": " + std::to_string(e.InfInode) + ", \"inf_sample\": " + std::to_string(e.InfSample) +
             ", \"nav_inode\": " + std::to_string(e.NavInode) + ", \"nav_sample\": " + std::to_string(e.NavSample) +
             ", \"damaged\": " + (DB_Plausible(e) ? "false" : "true") +
             ", \"kept\": " + (l.versionKnown && Kept(db, i) ? "true" : "false") +
             ", \"folder\": " + JsonOrNull(folderOf(e)) + "}";
    }
    out += first ? "]}\n" : "\n]}\n";
    std::fputs(out.c_str(), stdout);
    return kExitSound;
  }
  std::printf("%s: version %" PRIu32 ", capacity %" PRId32 ", count %" PRId32 ", %" PRIu32 " bytes, %s\n",
              path.c_str(), l.version, l.capacity, l.count, db.length, Sound(db) ? "sound" : "damaged");
  std::printf("%s\n", FoldersText(folders).c_str());
  std::printf("%5s  %-12s %-10s  %-12s %-10s  %-12s %-10s  %s\n", "#", "rec inode", "sample", "inf inode", "sample",
              "nav inode", "sample", "name");
  size_t unused = 0;
  for (uint32_t i = 0; i < l.present; ++i) {
    if (!Shown(db, i)) {
      ++unused;
      continue;
    }
    const RecDBEntry &e = db.records[i];
    std::string state = StateText(db, i);
    const std::optional<std::string> folder = folderOf(e);
    std::printf("%5" PRIu32 "  %-12" PRIu64 " %-10s  %-12" PRIu64 " %-10s  %-12" PRIu64 " %-10s  %s%s%s\n", i,
                e.RecInode, Hex(e.RecSample).c_str(), e.InfInode, Hex(e.InfSample).c_str(), e.NavInode,
                Hex(e.NavSample).c_str(), Visible(NameOf(e)).c_str(),
                folder ? ("  in " + Visible(*folder)).c_str() : "", state.empty() ? "" : ("  [" + state + "]").c_str());
  }
  if (unused > 0) std::printf("(%zu unused slots)\n", unused);
  return kExitSound;
}

int Check(const std::string &path) {
  const Database db = Examine(ReadDatabaseFile(path));
  if (Sound(db)) {
    std::printf("%s: sound, %zu entries\n", path.c_str(), db.kept.size());
    return kExitSound;
  }
  std::printf("%s: damaged\n", path.c_str());
  for (const std::string &p : db.problems) std::printf("  %s\n", p.c_str());
  if (!db.layout.versionKnown)
    std::printf("the module logs \"unexpected DB version\", keeps no entry and keeps the file aside\n");
  else if (db.loadsAsIs)
    std::printf("the module loads all %zu entries as they stand\n", db.kept.size());
  else
    std::printf("the module keeps %zu entries (\"damaged DB, kept %zu entries\") and keeps the file aside\n",
                db.kept.size(), db.kept.size());
  return kExitDamaged;
}

// ---------------------------------------------------------------- the plan

struct Stat {
  bool exists = false;
  bool regular = false;
  bool folder = false;
  uint64_t inode = 0;
};

// An entry that is not there, or whose name no folder can hold, does not exist; any other
// failure is thrown.
Stat StatOf(const std::string &path) {
  struct stat st;
  Stat s;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG) return s;
    Fail(path, errno);
  }
  s.exists = true;
  s.regular = S_ISREG(st.st_mode);
  s.folder = S_ISDIR(st.st_mode);
  s.inode = st.st_ino;
  return s;
}

// A settings file as the module finds it: the file, or the previous one of a replace cut
// off between its renames.
Read ReadSettingsFile(const std::string &folder, const std::string &name, std::string *bytes) {
  Read r = ReadWhole(folder + "/" + name, bytes);
  if (r == Read::Missing) r = ReadWhole(folder + "/" + name + ".bak", bytes);
  return r;
}

// A number from an ini text by the module's own reading (lib/ini), on the text as its open
// leaves it: cut at a NUL, a line end added to a last line without one.
int32_t IniInt(std::string text, const char *key, int32_t byDefault, int32_t least, int32_t most) {
  text.resize(strnlen(text.c_str(), text.size()));
  if (text.empty() || (text.back() != '\r' && text.back() != '\n')) text += "\r\n";
  text.append(4, '\0');
  INIBuffer = text.data();
  BufferSize = static_cast<uint32_t>(std::min<size_t>(text.size(), UINT32_MAX));
  const int32_t value = INIGetInt(key, byDefault, least, most);
  INIBuffer = nullptr;
  BufferSize = 0;
  return value;
}

// RestoreFolders as the module's start reads it: Quarrow.ini in the settings folder (or its
// previous file), else the deepest of the store's other places that has one; off without a
// file. A settings folder that is not there is made by the start, empty.
bool RestoreFoldersOn(const std::string &disk) {
  const std::string settings = disk + kSettingsFolder.c_str();
  std::string text;
  Read r = ReadWhole(settings + "/Quarrow.ini", &text);
  // Missing or set aside: the previous file, when it is a plain one, takes its place.
  if (r != Read::Ok) r = ReadWhole(settings + "/Quarrow.ini.bak", &text);
  if (r != Read::Ok) {
    const std::string programFiles = disk + kProgramFiles, settingsParent = disk + kSettingsParent.c_str();
    for (const std::string &place : {settingsParent + "/" + kIniAppFolder, settingsParent, programFiles}) {
      if (!StatOf(place).folder || !StatOf(place + "/Quarrow.ini").exists) continue;
      r = ReadWhole(place + "/Quarrow.ini", &text);
      break;
    }
  }
  return r == Read::Ok && IniInt(text, kRestoreFoldersKey, 0, 0, 1) != 0;
}

// The names in a folder in the order it lists them; none when it is missing or no folder.
std::vector<std::string> Listing(const std::string &folder) {
  std::vector<std::string> names;
  DIR *d = opendir(folder.c_str());
  if (d == nullptr) {
    if (errno == ENOENT || errno == ENOTDIR) return names;
    Fail(folder, errno);
  }
  for (;;) {
    errno = 0;
    struct dirent *e = readdir(d);
    if (e == nullptr) break;
    names.emplace_back(e->d_name);
  }
  const int error = errno;
  closedir(d);
  if (error != 0) Fail(folder, error);
  return names;
}

struct Item {
  uint64_t inode;
  std::string source, target;
};

// One file of the disk in the plan.
struct Row {
  std::string file, folder;
  std::optional<std::string> newName, movedAs;
  int kind = -1;
  std::string note;
  uint64_t inode = 0;
  std::optional<std::string> toFolder;  // returned there (host path), not to the recovery folder
};

// Files that will be in /Quarrow before the module starts: name there -> where it is now.
using Incoming = std::map<std::string, std::string>;

// The recovery folder as it will be, name -> inode, with each inode's file today.
struct Zorvane {
  std::map<std::string, uint64_t> names;
  std::map<uint64_t, std::string> pathOf;
};

NameState ExamineModel(const char *name, uint64_t inode, void *context) {
  const auto *z = static_cast<const Zorvane *>(context);
  auto it = z->names.find(name);
  if (it == z->names.end()) return NameState::Free;
  return inode != 0 && it->second == inode ? NameState::Usable : NameState::Taken;
}

void NotePassedOver(const char *name, void *context) {
  static_cast<std::string *>(context)->append("passed over the unusable name '" + Visible(name) + "' in the DB; ");
}

const char *const kKindNames[3] = {"recording", "inf", "nav"};

// What the module would do to a disk, step by step in the module's order: each step works
// on what the one before left. The disk is only read.
class Planner {
 public:
  // With `incoming`, those files are taken as in /Quarrow; `sorted` lists folders sorted
  // by name, as the simulated recorder does, instead of in the order the disk gives.
  explicit Planner(const std::string &disk, Incoming incoming = {}, bool sorted = false)
      : disk_(disk), quarrow_(disk + kQuarrowFolder), zorvane_(disk + kRecoveryFolder.c_str()),
        settings_(disk + kSettingsFolder.c_str()), incoming_(std::move(incoming)), sorted_(sorted) {}

  void Run() {
    ReadList();
    ListRecoveryFolder();
    ListNewEntries();
    Move();
    ReadDatabase();
    ReadFolders();
    Recover();
    AddUnlisted();
  }
  // With `listedOnly`, only the files the recovery takes on: those it moves and those an
  // earlier recovery listed.
  int Print(bool json, bool listedOnly = false) const;
  const std::vector<Row> &rows() const { return rows_; }
  // The module's start will take something in or finish a recovery list.
  bool runs() const { return runs_; }

 private:
  std::vector<std::string> List(const std::string &folder) const;
  std::string InQuarrow(const std::string &name) const;
  void ReadList();
  void ListRecoveryFolder();
  void ListNewEntries();
  std::optional<std::string> FreeTarget(const std::string &name) const;
  void Move();
  void ReadDatabase();
  void ReadFolders();
  void Recover();
  Row *RowFor(size_t i);
  void Rename(const Item &item, Row *row);
  bool ReturnToFolder(const Item &item, const RecDBEntry &e, const char *recName, MatchKind kind,
                      const std::string &folder, Row *row, const std::string &passed, std::string *why);
  static FolderLook LookOnDisk(const char *hostPath, void *context);
  static NameState ExamineInFolder(const char *name, uint64_t inode, void *context);
  void Rethrow();
  void AddUnlisted();

  const std::string disk_, quarrow_, zorvane_, settings_;
  const Incoming incoming_;
  const bool sorted_;
  std::vector<Row> rows_;
  std::vector<std::string> notes_;
  std::vector<Item> list_;
  size_t earlier_ = 0;    // entries listed by an earlier load
  bool pending_ = false;  // a recovery list is there
  bool runs_ = false, moves_ = false;
  bool numbered_ = false;  // this load gave an entry a numbered name
  Zorvane z_;
  std::map<std::string, size_t> quarrowRow_;  // name in /Quarrow -> row
  std::map<std::string, size_t> zorvaneRow_;  // name in /DataFiles/Zorvane today -> row
  std::vector<bool> inZorvane_;               // by list entry: moved by this load
  bool databaseRead_ = false;
  Database db_;
  std::vector<uint32_t> matchSlots_;
  MatchIndex index_{};
  bool restore_ = false;  // RestoreFolders=1
  Folders folders_;
  uint64_t diskDevice_ = 0;
  std::map<std::string, std::map<std::string, uint64_t>> returned_;  // folder -> name -> inode, by this plan
  std::optional<IoFailure> failed_;  // a look that failed inside a rule's callback
};

std::vector<std::string> Planner::List(const std::string &folder) const {
  std::vector<std::string> names = Listing(folder);
  if (folder == quarrow_)
    for (const auto &[name, from] : incoming_) names.push_back(name);
  if (sorted_) std::sort(names.begin(), names.end());
  return names;
}

// Where the file of that name in /Quarrow is now.
std::string Planner::InQuarrow(const std::string &name) const {
  auto it = incoming_.find(name);
  return it != incoming_.end() ? it->second : quarrow_ + "/" + name;
}

// The recovery list as the intake finds it: a damaged one is set aside and read as empty.
void Planner::ReadList() {
  std::string bytes;
  pending_ = ReadSettingsFile(settings_, "Quarrow.pending", &bytes) == Read::Ok;
  if (pending_ && bytes.size() <= UINT32_MAX &&
      RecoveryList_WellFormed(reinterpret_cast<const uint8_t *>(bytes.data()), static_cast<uint32_t>(bytes.size()))) {
    RecoveryList view;
    view.data = reinterpret_cast<uint8_t *>(bytes.data());
    view.size = static_cast<uint32_t>(bytes.size());
    RecoveryItem item;
    for (uint32_t at = 0; RecoveryList_Next(&view, &at, &item);) list_.push_back({item.inode, item.source, item.target});
  } else if (pending_) {
    notes_.push_back("Quarrow.pending is damaged: the module sets it aside and reads it as empty");
  }
  earlier_ = list_.size();
}

void Planner::ListRecoveryFolder() {
  for (const std::string &name : List(zorvane_)) {
    if (name == "." || name == "..") continue;
    Stat s = StatOf(zorvane_ + "/" + name);
    if (!s.exists) continue;
    z_.names[name] = s.inode;
    z_.pathOf[s.inode] = zorvane_ + "/" + name;
  }
}

// The intake check (anything in /Quarrow besides "." and "..", or a list still pending),
// then the listing in readdir order, as the intake does: new entries get a name free in
// /DataFiles/Zorvane and on the list.
void Planner::ListNewEntries() {
  const Stat quarrowStat = StatOf(quarrow_), dataStat = StatOf(disk_ + kDataFiles), zorvaneStat = StatOf(zorvane_);
  const std::vector<std::string> quarrowNames = List(quarrow_);
  const bool found = std::any_of(quarrowNames.begin(), quarrowNames.end(),
                                 [](const std::string &n) { return n != "." && n != ".."; });
  runs_ = found || pending_;
  const bool quarrowFolder = quarrowStat.folder || (!quarrowStat.exists && !incoming_.empty());
  moves_ = runs_ && dataStat.folder && (!zorvaneStat.exists || zorvaneStat.folder) && quarrowFolder;
  if (!runs_) notes_.push_back("nothing in /Quarrow and no recovery pending: the module does nothing");
  else if (!moves_) notes_.push_back("/DataFiles, /DataFiles/Zorvane or /Quarrow is not a folder: nothing is moved");

  for (const std::string &name : quarrowNames) {
    if (name == "." || name == "..") continue;
    Stat s = StatOf(InQuarrow(name));
    if (!s.regular) continue;
    quarrowRow_[name] = rows_.size();
    rows_.push_back({name, incoming_.count(name) ? "lost+found" : "Quarrow", std::nullopt, std::nullopt, -1, "",
                     s.inode, std::nullopt});
    if (name[0] == '.') {
      rows_.back().note = "name starts with a dot: not moved";
      continue;
    }
    if (!moves_) {
      rows_.back().note = "not moved";
      continue;
    }
    bool listed = false;
    for (size_t i = 0; i < earlier_; ++i) listed = listed || list_[i].inode == s.inode;
    if (listed) continue;
    const std::optional<std::string> target = FreeTarget(name);
    if (!target || name.size() > 255 || target->size() > 255) {
      rows_.back().note = "no free name in /DataFiles/Zorvane: not moved";
      continue;
    }
    if (*target != name) numbered_ = true;
    list_.push_back({s.inode, name, *target});
  }
}

// The k-th form of `name` as the module numbers it (k 1: the name itself); none when it
// does not fit a path.
std::optional<std::string> NameForm(const std::string &name, uint32_t k) {
  char out[PATH_SIZE];
  if (k == 1) return name.size() < sizeof out ? std::optional<std::string>(name) : std::nullopt;
  if (!NumberedName(out, sizeof out, name.c_str(), k)) return std::nullopt;
  return std::string(out);
}

// The first of the name and its numbered forms that is free in the folder and on the list.
std::optional<std::string> Planner::FreeTarget(const std::string &name) const {
  for (uint32_t k = 1; k <= MAX_NUMBERED; ++k) {
    const std::optional<std::string> form = NameForm(name, k);
    if (!form) break;
    const std::string &out = *form;
    if (StatOf(zorvane_ + "/" + out).exists) continue;
    bool onList = false;
    for (const Item &item : list_) onList = onList || item.target == out;
    if (onList && (k > 1 || numbered_ || earlier_ > 0)) continue;
    return std::string(out);
  }
  return std::nullopt;
}

// The moves, in list order: never onto a name that is taken.
void Planner::Move() {
  inZorvane_.assign(list_.size(), false);
  for (size_t i = 0; i < list_.size(); ++i) {
    const Item &item = list_[i];
    Stat s = StatOf(InQuarrow(item.source));
    if (!moves_ || !s.exists || s.inode != item.inode) continue;
    if (z_.names.count(item.target) != 0) {
      if (quarrowRow_.count(item.source))
        rows_[quarrowRow_[item.source]].note = "its name is taken in /DataFiles/Zorvane: stays in /Quarrow";
      continue;
    }
    z_.names[item.target] = item.inode;
    z_.pathOf[item.inode] = InQuarrow(item.source);
    inZorvane_[i] = true;
  }
}

// The database as the recovery's load finds it, and the module's index of its entries.
void Planner::ReadDatabase() {
  std::string bytes;
  const Read r = ReadSettingsFile(settings_, "Quarrow.db", &bytes);
  if (r == Read::Ok) {
    db_ = Examine(bytes);
    if (!Sound(db_)) notes_.push_back("Quarrow.db is damaged: the module uses the " + std::to_string(db_.kept.size()) + " entries it keeps");
  } else {
    notes_.push_back(r == Read::Missing ? "no Quarrow.db: the recovery waits for a database"
                                        : "Quarrow.db is not a plain file: the recovery waits");
  }
  databaseRead_ = r == Read::Ok;
  matchSlots_.assign(MatchIndexSlots(static_cast<int32_t>(db_.kept.size())), 0);
  index_ = BuildMatchIndex(db_.kept.data(), static_cast<int32_t>(db_.kept.size()), matchSlots_.data());
}

// The folders as the recovery's load finds them, while RestoreFolders asks for them.
void Planner::ReadFolders() {
  restore_ = RestoreFoldersOn(disk_);
  if (!restore_) return;
  folders_ = LoadFolders(settings_);
  struct stat st;
  if (stat(disk_.c_str(), &st) != 0) Fail(disk_, errno);
  diskDevice_ = st.st_dev;
  notes_.push_back("RestoreFolders=1: a recognised file goes back into its recording's folder when that is a real "
                   "folder and its name is free there");
  notes_.push_back(FoldersText(folders_));
}

// A step of a folder as the module's lstat64 sees it: what lies on the disk's own device
// is on the internal disk.
FolderLook Planner::LookOnDisk(const char *hostPath, void *context) {
  auto *p = static_cast<Planner *>(context);
  const std::string path = p->disk_ + hostPath;
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG) return {FolderLook::Missing, false, 0};
    p->failed_ = IoFailure{path, std::strerror(errno)};
    return {FolderLook::Failed, false, 0};
  }
  const uint64_t device = static_cast<uint64_t>(st.st_dev) == p->diskDevice_ ? kInternalDisk
                          : st.st_dev == kInternalDisk                         ? kInternalDisk + 1
                                                                               : st.st_dev;
  return {FolderLook::Found, S_ISDIR(st.st_mode), device};
}

struct InFolder {
  Planner *planner;
  const std::string &folder;
};

// A name in a recording's folder: what is there today and what this plan put there.
NameState Planner::ExamineInFolder(const char *name, uint64_t inode, void *context) {
  const auto *c = static_cast<const InFolder *>(context);
  Planner *p = c->planner;
  const auto heldBy = [inode](uint64_t held) {
    return inode != 0 && held == inode ? NameState::Usable : NameState::Taken;
  };
  const auto folder = p->returned_.find(c->folder);
  if (folder != p->returned_.end()) {
    const auto it = folder->second.find(name);
    if (it != folder->second.end()) return heldBy(it->second);
  }
  const std::string path = p->disk_ + c->folder + "/" + name;
  struct stat st;
  if (lstat(path.c_str(), &st) == 0) return heldBy(st.st_ino);
  if (errno == ENOENT || errno == ENOTDIR || errno == ENAMETOOLONG) return NameState::Free;
  p->failed_ = IoFailure{path, std::strerror(errno)};
  return NameState::Unknown;
}

// A failed read stops the plan, as everywhere else; it is thrown here, out of the rules.
void Planner::Rethrow() {
  if (!failed_) return;
  const IoFailure f = *failed_;
  failed_.reset();
  throw f;
}

// The module's return into the folder of the file's recording, on the plan's view: true
// when the file is dealt with there, false with the reason it stays in the recovery folder
// in `why`.
bool Planner::ReturnToFolder(const Item &item, const RecDBEntry &e, const char *recName, MatchKind kind,
                             const std::string &folder, Row *row, const std::string &passed, std::string *why) {
  // A look that fails stops the plan (thrown here), so nothing is left unknown below.
  const FolderState state = Folders_Check(folder.c_str(), kInternalDisk, LookOnDisk, this);
  Rethrow();
  if (state != FolderState::Real) {
    *why = "folder '" + Visible(folder) + "' " + Folders_Reason(state) + ", named in /DataFiles/Zorvane";
    return false;
  }
  InFolder in{this, folder};
  char newName[PATH_SIZE];
  const NameState chosen = ChooseName(e, recName, kind, newName, sizeof newName, ExamineInFolder, &in, 1);
  Rethrow();
  if (chosen != NameState::Free) {
    *why = "its name is taken in '" + Visible(folder) + "', named in /DataFiles/Zorvane";
    return false;
  }
  row->kind = kind;
  row->newName = newName;
  row->toFolder = folder;
  row->note = passed + "back into '" + Visible(folder) + "'";
  z_.names.erase(item.target);
  returned_[folder][newName] = item.inode;
  return true;
}

// The row of list entry i: its /Quarrow row when this load moved it; else, when an earlier
// load listed it and it is in the folder under its moved name today, a new row; else null.
Row *Planner::RowFor(size_t i) {
  const Item &item = list_[i];
  if (inZorvane_[i] && quarrowRow_.count(item.source)) return &rows_[quarrowRow_[item.source]];
  Stat s = StatOf(zorvane_ + "/" + item.target);
  if (!s.exists || s.inode != item.inode || !s.regular) return nullptr;
  zorvaneRow_[item.target] = rows_.size();
  rows_.push_back({item.target, "DataFiles/Zorvane", std::nullopt, std::nullopt, -1, "", item.inode, std::nullopt});
  return &rows_.back();
}

// The recovery, in list order, on the folder as the moves leave it.
void Planner::Recover() {
  for (size_t i = 0; i < list_.size() && runs_; ++i) {
    const Item &item = list_[i];
    Row *row = RowFor(i);
    if (row == nullptr) continue;
    auto held = z_.names.find(item.target);
    if (held == z_.names.end() || held->second != item.inode) continue;
    row->movedAs = item.target;
    if (!databaseRead_) {
      row->note = "no database read: stays listed for a later start";
      continue;
    }
    Rename(item, row);
  }
}

// One listed file in the folder: its match and the name it gets.
void Planner::Rename(const Item &item, Row *row) {
  const std::string head = ReadHead(z_.pathOf[item.inode]);
  MatchKind kind = kRecording;
  char recName[128];
  std::string passed;
  const RecDBEntry *e = FindMatch(db_.kept.data(), static_cast<int32_t>(db_.kept.size()), &index_, item.inode,
                                  SamplesOf(reinterpret_cast<const uint8_t *>(head.data()), head.size()), &kind,
                                  recName, NotePassedOver, &passed);
  if (e == nullptr) {
    row->note = passed + "not in the database: keeps the name it was moved under";
    return;
  }
  std::string stays;  // why it is not returned to its folder
  if (restore_) {
    const std::string *folder = folders_.Of(e->RecInode, e->RecSample);
    if (folder != nullptr && ReturnToFolder(item, *e, recName, kind, *folder, row, passed, &stays)) return;
  }
  const auto note = [&](const std::string &what) {
    return passed + stays + (!stays.empty() && !what.empty() ? "; " : "") + what;
  };
  char newName[PATH_SIZE];
  const NameState chosen = ChooseName(*e, recName, kind, newName, sizeof newName, ExamineModel, &z_);
  if (chosen != NameState::Free && chosen != NameState::Usable) {
    row->note = note("no free name: stays listed for a later start");
    return;
  }
  row->kind = kind;
  row->newName = newName;
  row->note = note("");
  if (item.target == newName) return;
  if (z_.names.count(newName) != 0) {
    row->newName.reset();
    row->note = note("its name is taken: stays listed for a later start");
    return;
  }
  z_.names.erase(item.target);
  z_.names[newName] = item.inode;
}

// Everything else in the recovery folder keeps its name.
void Planner::AddUnlisted() {
  for (const std::string &name : List(zorvane_)) {
    if (name == "." || name == ".." || zorvaneRow_.count(name)) continue;
    const Stat s = StatOf(zorvane_ + "/" + name);
    if (!s.regular) continue;
    rows_.push_back({name, "DataFiles/Zorvane", name, std::nullopt, -1, "not on the recovery list: keeps its name",
                     s.inode, std::nullopt});
  }
}

// A file of the recovery folder that no recovery list names: it keeps its name.
bool Bystander(const Row &r) { return r.folder == "DataFiles/Zorvane" && !r.movedAs; }

int Planner::Print(bool json, bool listedOnly) const {
  if (json) {
    std::string out = "[";
    for (size_t i = 0; i < rows_.size(); ++i) {
      const Row &r = rows_[i];
      out += i == 0 ? "\n  " : ",\n  ";
      out += "{\"file\": " + Json(r.file) + ", \"folder\": " + Json(r.folder) + ", \"new_name\": " + JsonOrNull(r.newName) +
             ", \"kind\": " + (r.kind >= 0 ? Json(kKindNames[r.kind]) : std::string("null")) +
             ", \"moved_as\": " + JsonOrNull(r.movedAs) + ", \"note\": " + Json(r.note) +
             // Only while the folders are asked for: otherwise the rows stay as they always were.
             (restore_ ? ", \"to_folder\": " + JsonOrNull(r.toFolder) : std::string()) + "}";
    }
    out += rows_.empty() ? "]\n" : "\n]\n";
    std::fputs(out.c_str(), stdout);
    // All of the list first: with both outputs in one file a note must not split a row.
    std::fflush(stdout);
    for (const std::string &n : notes_) std::fprintf(stderr, "quarrow-db: %s\n", n.c_str());
    return kExitSound;
  }
  for (const std::string &n : notes_) std::printf("note: %s\n", n.c_str());
  std::printf("%-18s  %-24s  %-32s  %-9s  %s\n", "folder", "file", "new name", "kind", "");
  for (const Row &r : rows_) {
    if (listedOnly && Bystander(r)) continue;
    std::string shown = r.newName ? Visible(*r.newName) : "(unknown)";
    std::string note = r.note;
    if (r.movedAs && r.movedAs != r.newName && *r.movedAs != r.file) note = "moved as '" + Visible(*r.movedAs) + "'; " + note;
    std::printf("%-18s  %-24s  %-32s  %-9s  %s\n", r.folder.c_str(), Visible(r.file).c_str(), shown.c_str(),
                r.kind >= 0 ? kKindNames[r.kind] : "-", note.c_str());
  }
  if (rows_.empty()) std::printf("(no files)\n");
  return kExitSound;
}

int Plan(const std::string &disk, bool json) {
  if (!StatOf(disk).folder) {
    std::fprintf(stderr, "quarrow-db: %s is not a folder\n", disk.c_str());
    return kExitUsage;
  }
  Planner planner(disk);
  planner.Run();
  return planner.Print(json);
}

// ---------------------------------------------------------------- the recovery

// What a PC's checker reconnected into lost+found, with the names the files get in
// /Quarrow: their own, or a numbered one when that is taken there.
Incoming FromLostAndFound(const std::string &disk) {
  Incoming incoming;
  const std::string from = disk + "/lost+found", quarrow = disk + kQuarrowFolder;
  for (const std::string &name : Listing(from)) {
    if (name == "." || name == "..") continue;
    for (uint32_t k = 1; k <= MAX_NUMBERED; ++k) {
      const std::optional<std::string> form = NameForm(name, k);
      if (!form) break;
      const std::string &out = *form;
      if (StatOf(quarrow + "/" + out).exists || incoming.count(out)) continue;
      incoming[out] = from + "/" + name;
      break;
    }
  }
  return incoming;
}

// Moves them, never onto an existing name: a rename keeps the inode the database knows.
void MoveIncoming(const std::string &disk, const Incoming &incoming) {
  const std::string quarrow = disk + kQuarrowFolder;
  if (mkdir(quarrow.c_str(), 0755) != 0 && errno != EEXIST) Fail(quarrow, errno);
  for (const auto &[name, from] : incoming) {
    const std::string to = quarrow + "/" + name;
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) Fail(from, errno);
  }
}

// Everything written to the disk's file system so far onto the disk, before the user is
// told it is done and unplugs it.
void SyncDisk(const std::string &disk) {
  const int fd = open(disk.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) Fail(disk, errno);
  const int synced = syncfs(fd), error = errno;
  close(fd);
  if (synced != 0) Fail(disk, error);
}

bool Ask(const std::string &question) {
  std::printf("%s [y/N] ", question.c_str());
  std::fflush(stdout);
  char answer[16] = "";
  if (std::fgets(answer, sizeof answer, stdin) == nullptr) return false;
  return answer[0] == 'y' || answer[0] == 'Y';
}

// How the files the plan is about stand after the run.
struct Outcome {
  size_t recordings = 0, companions = 0, unknown = 0, waiting = 0;
  size_t returned = 0;  // of the recordings and companions: back in their folders
};

Outcome Count(const std::string &disk, const std::vector<Row> &rows) {
  const std::string zorvane = disk + kRecoveryFolder.c_str();
  std::map<uint64_t, std::string> nameOf;  // inode -> name in /DataFiles/Zorvane
  for (const std::string &name : Listing(zorvane)) {
    if (name == "." || name == "..") continue;
    const Stat s = StatOf(zorvane + "/" + name);
    if (s.regular) nameOf[s.inode] = name;
  }
  Outcome o;
  for (const Row &r : rows) {
    if (Bystander(r)) continue;
    if (r.toFolder && r.newName && r.kind >= 0) {
      const Stat s = StatOf(disk + *r.toFolder + "/" + *r.newName);
      if (s.regular && s.inode == r.inode) {
        ++o.returned;
        ++(r.kind == kRecording ? o.recordings : o.companions);
        continue;
      }
    }
    auto it = nameOf.find(r.inode);
    if (it == nameOf.end()) {
      ++o.waiting;  // still in /Quarrow (or gone)
    } else if (r.newName && it->second == *r.newName && r.kind >= 0) {
      ++(r.kind == kRecording ? o.recordings : o.companions);
    } else {
      ++o.unknown;
    }
  }
  return o;
}

// Progress of the module's recovery: a bar redrawn in place on a terminal, a plain line at
// each tenth otherwise (a log, a pipe).
class ProgressShown {
 public:
  ProgressShown(uint64_t moves, uint64_t names) : moves_(moves), names_(names), terminal_(isatty(STDOUT_FILENO) != 0) {}
  void operator()(uint64_t moved, uint64_t renamed) {
    moved = std::min(moved, moves_);
    renamed = std::min(renamed, names_);
    const uint64_t total = moves_ + names_;
    const unsigned percent = total == 0 ? 100 : static_cast<unsigned>((moved + renamed) * 100 / total);
    if (terminal_ ? percent == shown_ : percent / 10 == shown_ / 10) return;
    shown_ = percent;
    char counts[96];
    std::snprintf(counts, sizeof counts, "%3u%% (moved %" PRIu64 " of %" PRIu64 ", named %" PRIu64 " of %" PRIu64 ")",
                  percent, moved, moves_, renamed, names_);
    if (terminal_) {
      const std::string bar = std::string(percent / 4, '#') + std::string(25 - percent / 4, '.');
      std::printf("\rrecovering [%s] %s", bar.c_str(), counts);
    } else {
      std::printf("recovering: %s\n", counts);
    }
    std::fflush(stdout);
  }
  void Done() {
    if (terminal_ && shown_ != kNone) std::printf("\n");
  }

 private:
  static constexpr unsigned kNone = ~0u;
  uint64_t moves_, names_;
  bool terminal_;
  unsigned shown_ = kNone;
};

// A recorder's disk that may be written: "" when it is, else the line that says why not.
std::string WritableDisk(const std::string &disk, const char *doing) {
  if (!StatOf(disk).folder) return disk + " is not a folder";
  if (!StatOf(disk + kDataFiles).folder || !StatOf(disk + kSettingsParent.c_str()).folder)
    return disk + " is not a recorder's disk: it has no DataFiles or no ProgramFiles/Settings folder";
  struct statvfs fs;
  if (statvfs(disk.c_str(), &fs) != 0) Fail(disk, errno);
  if ((fs.f_flag & ST_RDONLY) != 0)
    return disk + " is mounted read-only: mount it read-write to " + doing + " (nothing changed)";
  return "";
}

// Shows RestoreFolders as the module's next start reads it, or stores it first (`to`:
// "on" or "off").
int RestoreFoldersCommand(const std::string &disk, const std::optional<std::string> &to) {
  if (to) {
    const std::string refused = WritableDisk(disk, "change it");
    if (!refused.empty()) {
      std::fprintf(stderr, "quarrow-db: %s\n", refused.c_str());
      return kExitUsage;
    }
    std::string why;
    if (!quarrow_db::StoreModuleSetting(disk, kRestoreFoldersKey, *to == "on" ? 1 : 0, &why)) {
      std::fprintf(stderr, "quarrow-db: %s\n", why.c_str());
      return kExitUsage;
    }
  } else if (!StatOf(disk + kDataFiles).folder || !StatOf(disk + kSettingsParent.c_str()).folder) {
    std::fprintf(stderr, "quarrow-db: %s is not a recorder's disk: it has no DataFiles or no ProgramFiles/Settings folder\n",
                 disk.c_str());
    return kExitUsage;
  }
  const bool on = RestoreFoldersOn(disk);
  std::printf("RestoreFolders is %s: %s\n", on ? "on" : "off",
              on ? "recovered recordings go back into the folders where the module last saw them"
                 : "recovered recordings stay in /DataFiles/Zorvane");
  return kExitSound;
}

int Recover(const std::string &disk, bool yes, const std::string &clock) {
  const std::string refused = WritableDisk(disk, "recover");
  if (!refused.empty()) {
    std::fprintf(stderr, "quarrow-db: %s\n", refused.c_str());
    return kExitUsage;
  }
  const Incoming incoming = FromLostAndFound(disk);
  Planner planner(disk, incoming, true);
  planner.Run();
  planner.Print(false, true);
  size_t recordings = 0, companions = 0, unknown = 0, returned = 0;
  for (const Row &r : planner.rows()) {
    if (Bystander(r)) continue;
    if (r.kind == kRecording) ++recordings;
    else if (r.kind >= 0) ++companions;
    else ++unknown;
    if (r.toFolder) ++returned;
  }
  std::printf("plan: %zu files from lost+found and /Quarrow; %zu recordings and %zu companions to be named, %zu "
              "files unknown\n",
              recordings + companions + unknown, recordings, companions, unknown);
  if (returned > 0) std::printf("plan: %zu of them back into their folders\n", returned);
  if (!planner.runs()) {
    std::printf("nothing to recover on %s\n", disk.c_str());
    return kExitSound;
  }
  if (!yes && !Ask("Recover these files on " + disk + "?")) {
    std::printf("nothing changed\n");
    return kExitDamaged;
  }
  if (!incoming.empty()) {
    MoveIncoming(disk, incoming);
    std::printf("moved %zu files from lost+found into /Quarrow\n", incoming.size());
  }
  std::printf("running the module's recovery on %s\n", disk.c_str());
  std::fflush(stdout);
  std::string why;
  uint64_t moves = 0;
  for (const Row &r : planner.rows()) moves += r.movedAs ? 1 : 0;
  // A return into a folder is a move of the operating system's, not a rename of the host's.
  ProgressShown shown(moves + returned, recordings + companions - returned);
  const bool started = quarrow_db::RunModuleStart(disk, clock, "/dev/null", &why, std::ref(shown));
  shown.Done();
  if (!started) {
    std::fprintf(stderr, "quarrow-db: %s\n", why.c_str());
    return kExitUsage;
  }
  SyncDisk(disk);
  const Outcome o = Count(disk, planner.rows());
  const std::string log = disk + kSettingsFolder.c_str() + "/Quarrow.log";
  std::printf("recordings named: %zu\ncompanions (.inf, .nav) named: %zu\n", o.recordings, o.companions);
  if (o.returned > 0) std::printf("of them back in their folders: %zu\n", o.returned);
  if (o.unknown > 0)
    std::printf("files left unknown: %zu, under the names the check gave them in %s%s\n", o.unknown, disk.c_str(),
                kRecoveryFolder.c_str());
  if (o.waiting > 0)
    std::printf("files waiting in %s%s for a later start: %zu\n", disk.c_str(), kQuarrowFolder, o.waiting);
  std::printf("log: %s\n", log.c_str());
  return o.unknown == 0 && o.waiting == 0 ? kExitSound : kExitDamaged;
}

void PrintHelp() {
  std::printf("usage: quarrow-db COMMAND [ARGUMENTS]\n"
              "       quarrow-db COMMAND --help | --help | --version\n"
              "Shows and checks the database of a recorder's Quarrow module and plans a recovery.\n\n");
  for (const Command &c : kCommands) std::printf("  %-6s %s\n", c.name, c.summary);
  std::printf("\nExit status: 0 done (check: sound), 1 check: damaged, recover: files left unknown or waiting, or\n"
              "declined; 2 bad arguments or a failed read or write.\n");
}

int Run(const std::vector<std::string> &args) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    PrintHelp();
    return kExitSound;
  }
  if (args.size() == 1 && args[0] == "--version") {
    std::printf("quarrow-db %s\n", QUARROW_VERSION);
    return kExitSound;
  }
  const Command *command = nullptr;
  for (const Command &c : kCommands)
    if (!args.empty() && args[0] == c.name) command = &c;
  if (command == nullptr) {
    std::fprintf(stderr, "quarrow-db: %s (try quarrow-db --help)\n",
                 args.empty() ? "no command given" : ("unknown command '" + Visible(args[0]) + "'").c_str());
    return kExitUsage;
  }
  bool json = false, yes = false, bad = false;
  std::optional<std::string> disk, file, clock, state;
  for (size_t i = 1; i < args.size(); ++i) {
    if (args[i] == "--help" || args[i] == "-h") {
      std::printf("usage: quarrow-db %s %s\n%s\n", command->name, command->arguments, command->summary);
      return kExitSound;
    }
    if (args[i] == "--json" && command->json) {
      json = true;
    } else if (args[i] == "--disk" && command->disk && i + 1 < args.size() && !disk) {
      disk = args[++i];
    } else if (args[i] == "--yes" && command->changes) {
      yes = true;
    } else if (args[i] == "--clock" && command->changes && i + 1 < args.size() && !clock) {
      clock = args[++i];
    } else if (command->file && !file && args[i].rfind("--", 0) != 0) {
      file = args[i];
    } else if (std::string(command->name) == "restore-folders" && !state && (args[i] == "on" || args[i] == "off")) {
      state = args[i];
    } else {
      bad = true;
    }
  }
  if (bad || (command->file && !file) || (command->disk && !disk)) {
    std::fprintf(stderr, "quarrow-db: usage: quarrow-db %s %s (try quarrow-db %s --help)\n", command->name,
                 command->arguments, command->name);
    return kExitUsage;
  }
  const std::string name = command->name;
  if (name == "plan") return Plan(*disk, json);
  if (name == "recover") return Recover(*disk, yes, clock.value_or(""));
  if (name == "restore-folders") return RestoreFoldersCommand(*disk, state);
  return name == "show" ? Show(*file, json) : Check(*file);
}

}  // namespace

// Every failure ends in one line and exit status 2: nothing is thrown out of main.
int main(int argc, char **argv) {
  int status;
  try {
    status = Run(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const IoFailure &f) {
    std::fflush(stdout);
    std::fprintf(stderr, "quarrow-db: %s: %s\n", f.path.c_str(), f.reason.c_str());
    return kExitUsage;
  } catch (const std::bad_alloc &) {
    std::fprintf(stderr, "quarrow-db: out of memory\n");
    return kExitUsage;
  } catch (const std::exception &e) {
    std::fprintf(stderr, "quarrow-db: %s\n", e.what());
    return kExitUsage;
  }
  // What was printed must have reached its file (a full disk, a closed pipe).
  errno = 0;
  if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
    std::fprintf(stderr, "quarrow-db: standard output: %s\n", errno != 0 ? std::strerror(errno) : "write error");
    return kExitUsage;
  }
  return status;
}
