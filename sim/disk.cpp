// The recorder's disk: a host directory, the module's current folder, files and listings.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <vector>

#include "sim/internal.h"

namespace sim::detail {
namespace {

enum : int {
  DISK_DEVICE = 2050,     // what lstat64 reports for entries on the disk
  FOREIGN_DEVICE = 2065,  // what it reports below folders marked foreign
};

struct OpenFile {
  int fd = -1;
  std::string name;  // last path component, for faults by name
};

// The disk and what the module holds open on it.
struct Disk {
  std::string root;    // canonical real path, "" when none
  dev_t root_dev = 0;  // real device of the disk folder
  std::string cwd = "/ProgramFiles";
  int chdir_success = 0;
  std::set<OpenFile *> files;
  std::vector<std::string> foreign;  // host paths marked as another device
  std::vector<std::pair<uint32_t, std::string>> listing;
  size_t listing_pos = 0;
} hd;

// Real path of a normalised host path; false if a folder on the way is a symbolic link.
bool real_path(const std::string &host_path, std::string *real) {
  const std::string &disk = hd.root;
  if (disk.empty()) return false;
  // Folders on the way must be real folders: a symbolic link could lead off the disk.
  size_t pos = 1;
  while (true) {
    const size_t slash = host_path.find('/', pos);
    if (slash == std::string::npos) break;
    struct stat st;
    const std::string prefix = disk + host_path.substr(0, slash);
    if (::lstat(prefix.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
      errno = ELOOP;
      return false;
    }
    pos = slash + 1;
  }
  *real = host_path == "/" ? disk : disk + host_path;
  return true;
}

}  // namespace

bool normalize(const std::string &cwd, const char *name, std::string *host_path) {
  std::vector<std::string> parts;
  auto add = [&](const std::string &path) {
    size_t i = 0;
    while (i <= path.size()) {
      size_t j = path.find('/', i);
      if (j == std::string::npos) j = path.size();
      const std::string part = path.substr(i, j - i);
      if (part == "..") {
        if (parts.empty()) return false;  // above the disk's root
        parts.pop_back();
      } else if (!part.empty() && part != ".") {
        parts.push_back(part);
      }
      i = j + 1;
    }
    return true;
  };
  if (name[0] != '/' && !add(cwd)) return false;
  if (!add(name)) return false;
  std::string out;
  for (const std::string &p : parts) out += "/" + p;
  *host_path = out.empty() ? "/" : out;
  return true;
}

std::string last_component(const std::string &host_path) {
  const size_t slash = host_path.rfind('/');
  return slash == std::string::npos ? host_path : host_path.substr(slash + 1);
}

const char *os_rest(const char *path) {
  constexpr size_t kPrefix = sizeof quarrow::kOsPrefix - 1;
  if (path == nullptr || std::strncmp(path, quarrow::kOsPrefix, kPrefix) != 0) return nullptr;
  return path[kPrefix] == '\0' || path[kPrefix] == '/' ? path + kPrefix : nullptr;
}

int map_os_path(const char *path, std::string *real) {
  const char *const on_disk = os_rest(path);
  if (on_disk == nullptr) return 0;
  std::string host;
  if (hd.root.empty()) {
    errno = ENOENT;
    return -1;
  }
  const std::string rest = *on_disk == '\0' ? std::string("/") : std::string(on_disk);
  if (!normalize("/", rest.c_str(), &host) || !real_path(host, real)) {
    errno = EACCES;
    return -1;
  }
  return 1;
}

uint64_t reported_device(uint64_t real_dev, const std::string &host_path) {
  for (const std::string &f : hd.foreign) {
    if (host_path == f || (host_path.size() > f.size() && host_path.compare(0, f.size(), f) == 0 &&
                           (f == "/" || host_path[f.size()] == '/')))
      return FOREIGN_DEVICE;
  }
  if (real_dev == hd.root_dev) return DISK_DEVICE;
  return real_dev == static_cast<uint64_t>(DISK_DEVICE) ? static_cast<uint64_t>(FOREIGN_DEVICE) : real_dev;
}

namespace {

OpenFile *checked(TYPE_File *file, const char *call) {
  auto *f = reinterpret_cast<OpenFile *>(file);
  if (hd.files.count(f) == 0) {
    char text[96];
    std::snprintf(text, sizeof text, "%s on a handle that is not open (%p)", call, static_cast<void *>(file));
    fatal(text);
  }
  return f;
}

// Resolves a module-given name to host and real path; false when it cannot name an entry
// on the disk.
bool resolve(const char *name, std::string *host, std::string *real) {
  if (name == nullptr || *name == '\0' || hd.root.empty()) return false;
  if (!normalize(hd.cwd, name, host)) return false;
  return real_path(*host, real);
}

bool lowercase_extension_in(const std::string &name, const std::vector<std::string> &exts) {
  const size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return false;
  std::string ext = name.substr(dot + 1);
  for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return std::find(exts.begin(), exts.end(), ext) != exts.end();
}

// Filters: "rcn", "*" or empty list every plain file and sub-folder; any other text is a
// '|'-separated list of extensions: sub-folders plus the files with one of them (any case).
bool filter_takes(const char *filter, bool folder, const std::string &name) {
  if (filter == nullptr || *filter == '\0' || std::strcmp(filter, "rcn") == 0 || std::strcmp(filter, "*") == 0)
    return true;
  if (folder) return true;
  std::vector<std::string> exts;
  std::string cur;
  for (const char *p = filter;; ++p) {
    if (*p == '|' || *p == '\0') {
      for (char &c : cur) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (!cur.empty() && cur[0] == '.') cur.erase(0, 1);
      if (!cur.empty()) exts.push_back(cur);
      cur.clear();
      if (*p == '\0') break;
    } else {
      cur += *p;
    }
  }
  return lowercase_extension_in(name, exts);
}

void fill_entry(HddFolderEntry *entry, const std::pair<uint32_t, std::string> &item) {
  std::memset(entry, 0, sizeof *entry);
  entry->attr = item.first;
  std::memcpy(entry->name, item.second.c_str(), item.second.size() + 1);
}

}  // namespace

// ---- the TAP_Hdd_ calls -----------------------------------------------------------
int impl_TAP_Hdd_ChangeDir(const char *dir) {
  Disk &s = hd;
  const int success = host_does(Call::TAP_Hdd_ChangeDir, ZERO_SUCCESS) ? 0 : s.chdir_success;
  const int failure = success == 0 ? 1 : 0;
  std::string host, real;
  const bool named = dir != nullptr && *dir != '\0' && !s.root.empty() && normalize(s.cwd, dir, &host);
  if (const Verdict v = decide(Call::TAP_Hdd_ChangeDir, named ? last_component(host) : std::string()))
    return v.result(failure);
  if (!named || !real_path(host, &real)) return failure;
  struct stat st;
  if (::lstat(real.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return failure;
  s.cwd = host;
  set_task_path(host);
  return success;
}

int impl_TAP_Hdd_Exist(const char *name) {
  std::string host, real;
  const bool ok = resolve(name, &host, &real);
  if (const Verdict v = decide(Call::TAP_Hdd_Exist, ok ? last_component(host) : std::string())) return v.result(0);
  struct stat st;
  return ok && ::lstat(real.c_str(), &st) == 0 ? 1 : 0;
}

namespace {
uint32_t create(const std::string &real, uint32_t attr) {
  struct stat st;
  if (attr == ATTR_FILE) {
    const int fd = ::open(real.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) {
      ::close(fd);
      cache_created(real, false);
      return 1;
    }
    return errno == EEXIST && ::lstat(real.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? 1 : 0;
  }
  if (attr == ATTR_FOLDER) {
    if (::mkdir(real.c_str(), 0755) == 0) {
      cache_created(real, true);
      return 1;
    }
    return errno == EEXIST && ::lstat(real.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 1 : 0;
  }
  return 0;
}

// Folders only when empty: nothing is ever deleted by accident of a recursive walk.
int remove_entry(const std::string &real) { return cache_remove(real) ? 1 : 0; }

// Never overwrite: the new name must be free, checked and taken in one step.
int rename_free(const std::string &from, const std::string &to) {
  if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno != EINVAL && errno != ENOSYS) return 0;
    struct stat st;
    if (::lstat(to.c_str(), &st) == 0 || errno != ENOENT || ::rename(from.c_str(), to.c_str()) != 0) return 0;
  }
  cache_renamed(from, to);
  return 1;
}
}  // namespace

uint32_t impl_TAP_Hdd_Create(const char *name, uint32_t attr) {
  std::string host, real;
  const bool ok = resolve(name, &host, &real);
  if (const Verdict v = decide(Call::TAP_Hdd_Create, ok ? last_component(host) : std::string()))
    return v.result(0u);
  return reported(Call::TAP_Hdd_Create, ok && host != "/" ? create(real, attr) : 0u);
}

int impl_TAP_Hdd_Delete(const char *name) {
  std::string host, real;
  const bool ok = resolve(name, &host, &real);
  if (const Verdict v = decide(Call::TAP_Hdd_Delete, ok ? last_component(host) : std::string())) return v.result(0);
  return reported(Call::TAP_Hdd_Delete, ok && host != "/" ? remove_entry(real) : 0);
}

TYPE_File *impl_TAP_Hdd_Fopen(const char *name) {
  std::string host, real;
  const bool ok = resolve(name, &host, &real);
  if (const Verdict v = decide(Call::TAP_Hdd_Fopen, ok ? last_component(host) : std::string()))
    return reinterpret_cast<TYPE_File *>(v.result<uintptr_t>(0));
  if (!ok) return nullptr;
  int fd = ::open(real.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = ::open(real.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  auto *f = new OpenFile{fd, last_component(host)};
  hd.files.insert(f);
  return reinterpret_cast<TYPE_File *>(f);
}

namespace {
// Fread and Fwrite: the whole blocks moved of what the policy and the power let through.
template <typename Io>
uint32_t transfer(Call call, TYPE_File *file, uint32_t blockSize, uint32_t blockCount, Io &&io) {
  OpenFile *f = checked(file, call_name(call));
  const Verdict v = decide(call, f->name);
  if (v) return v.result(0u);
  if (blockSize == 0) return 0;
  uint64_t want = static_cast<uint64_t>(blockSize) * blockCount;
  if (v.short_transfer) want /= 2;
  if (changes_disk(call)) {
    want = power_allows(want);
    if (want > 0) cache_before_write(f->fd);
  }
  uint64_t done = 0;
  while (done < want) {
    const ssize_t n = io(f->fd, done, static_cast<size_t>(want - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<uint64_t>(n);
  }
  return static_cast<uint32_t>(done / blockSize);
}
}  // namespace

uint32_t impl_TAP_Hdd_Fread(void *buf, uint32_t blockSize, uint32_t blockCount, TYPE_File *file) {
  return transfer(Call::TAP_Hdd_Fread, file, blockSize, blockCount,
                  [&](int fd, uint64_t at, size_t n) { return ::read(fd, static_cast<char *>(buf) + at, n); });
}

uint32_t impl_TAP_Hdd_Fwrite(const void *buf, uint32_t blockSize, uint32_t blockCount, TYPE_File *file) {
  return transfer(Call::TAP_Hdd_Fwrite, file, blockSize, blockCount,
                  [&](int fd, uint64_t at, size_t n) { return ::write(fd, static_cast<const char *>(buf) + at, n); });
}

uint32_t impl_TAP_Hdd_Fseek(TYPE_File *file, int32_t offset, uint32_t origin) {
  OpenFile *f = checked(file, "TAP_Hdd_Fseek");
  if (const Verdict v = decide(Call::TAP_Hdd_Fseek, f->name)) return v.result(UINT32_MAX);
  int whence;
  switch (origin) {
    case 0: whence = SEEK_SET; break;
    case 1: whence = SEEK_CUR; break;
    case 2: whence = SEEK_END; break;
    default: return UINT32_MAX;
  }
  const off_t pos = ::lseek(f->fd, offset, whence);
  if (pos < 0) return UINT32_MAX;
  return pos > static_cast<off_t>(UINT32_MAX - 1) ? UINT32_MAX - 1 : static_cast<uint32_t>(pos);
}

uint32_t impl_TAP_Hdd_Flen(TYPE_File *file) {
  OpenFile *f = checked(file, "TAP_Hdd_Flen");
  if (const Verdict v = decide(Call::TAP_Hdd_Flen, f->name)) return v.result(0u);
  struct stat st;
  if (::fstat(f->fd, &st) != 0) return 0;
  // Recordings can exceed 4 GiB; the 32-bit length saturates.
  return st.st_size > static_cast<off_t>(UINT32_MAX) ? UINT32_MAX : static_cast<uint32_t>(st.st_size);
}

void impl_TAP_Hdd_Fclose(TYPE_File *file) {
  OpenFile *f = checked(file, "TAP_Hdd_Fclose");
  if (decide(Call::TAP_Hdd_Fclose, f->name)) return;
  ::close(f->fd);
  hd.files.erase(f);
  delete f;
}

int impl_TAP_Hdd_Rename(const char *oldName, const char *newName) {
  std::string old_host, old_real, new_host, new_real;
  const bool ok_old = resolve(oldName, &old_host, &old_real);
  const bool ok_new = resolve(newName, &new_host, &new_real);
  if (const Verdict v = decide(Call::TAP_Hdd_Rename, ok_old ? last_component(old_host) : std::string(),
                               ok_new ? last_component(new_host) : std::string()))
    return v.result(0);
  struct stat st;
  int r = 0;
  if (ok_old && ok_new && old_host != "/" && new_host != "/" && ::lstat(old_real.c_str(), &st) == 0) {
    if (!host_does(Call::TAP_Hdd_Rename, OVERWRITES)) {
      r = rename_free(old_real, new_real);
    } else if (cache_on() && ::lstat(new_real.c_str(), &st) == 0) {
      // The replaced file's name goes with it: the cache sees a delete, then the rename.
      r = cache_remove(new_real) && ::rename(old_real.c_str(), new_real.c_str()) == 0;
      if (r) cache_renamed(old_real, new_real);
    } else {
      r = ::rename(old_real.c_str(), new_real.c_str()) == 0;
      if (r) cache_renamed(old_real, new_real);
    }
  }
  return reported(Call::TAP_Hdd_Rename, r);
}

int impl_TAP_Hdd_FindFirst(HddFolderEntry *entry, const char *filter) {
  Disk &s = hd;
  s.listing.clear();
  s.listing_pos = 0;
  if (entry != nullptr) std::memset(entry, 0, sizeof *entry);
  if (const Verdict v = decide(Call::TAP_Hdd_FindFirst, last_component(s.cwd))) return v.result(0);
  std::string real;
  if (s.root.empty() || !real_path(s.cwd, &real)) return 0;
  DIR *d = ::opendir(real.c_str());
  if (d == nullptr) return 0;
  while (struct dirent *e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") {
      if (host_does(Call::TAP_Hdd_FindFirst, DOT_ENTRIES)) s.listing.emplace_back(uint32_t{ATTR_FOLDER}, name);
      continue;
    }
    // A name that does not fit the entry is left out rather than cut to another name.
    if (name.size() >= sizeof entry->name) continue;
    struct stat st;
    if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    const bool folder = S_ISDIR(st.st_mode), other = !folder && !S_ISREG(st.st_mode);  // links, devices, pipes
    if ((other && !host_does(Call::TAP_Hdd_FindFirst, OTHER_KINDS)) || !filter_takes(filter, folder, name)) continue;
    s.listing.emplace_back(other ? 0u : folder ? uint32_t{ATTR_FOLDER} : uint32_t{ATTR_FILE}, name);
  }
  ::closedir(d);
  if (!host_does(Call::TAP_Hdd_FindFirst, DISK_ORDER))
    std::sort(s.listing.begin(), s.listing.end(), [](const auto &a, const auto &b) { return a.second < b.second; });
  if (!s.listing.empty() && entry != nullptr) fill_entry(entry, s.listing[0]);
  return static_cast<int>(s.listing.size());
}

int impl_TAP_Hdd_FindNext(HddFolderEntry *entry) {
  Disk &s = hd;
  if (const Verdict v = decide(Call::TAP_Hdd_FindNext)) return v.result(0);
  int r = 1;
  if (s.listing_pos + 1 >= s.listing.size()) {
    s.listing_pos = s.listing.size();
    r = 0;
  } else {
    ++s.listing_pos;
    if (entry != nullptr) fill_entry(entry, s.listing[s.listing_pos]);
  }
  return reported(Call::TAP_Hdd_FindNext, r);
}

void reset_disk() {
  for (OpenFile *f : hd.files) {
    ::close(f->fd);
    delete f;
  }
  hd = Disk{};
}

}  // namespace sim::detail

// ---- control API ------------------------------------------------------------------
namespace sim {
using namespace sim::detail;

void set_disk(const std::string &dir) {
  Disk &s = hd;
  for (const std::string &sub : {std::string(), std::string("/ProgramFiles"), std::string("/DataFiles")}) {
    // Create the folder and any missing parents.
    const std::string path = dir + sub;
    for (size_t i = 1; i <= path.size(); ++i) {
      if (i == path.size() || path[i] == '/') ::mkdir(path.substr(0, i).c_str(), 0755);
    }
  }
  char *canon = ::realpath(dir.c_str(), nullptr);
  if (canon == nullptr) {
    s.root.clear();
    return;
  }
  s.root = canon;
  std::free(canon);
  struct stat st;
  s.root_dev = ::stat(s.root.c_str(), &st) == 0 ? st.st_dev : 0;
  s.cwd = "/ProgramFiles";
  set_task_path(s.cwd);
}

const std::string &disk() { return hd.root; }

std::string host_to_real(const std::string &host_path) {
  std::string host;
  if (hd.root.empty() || !normalize("/", host_path.c_str(), &host)) return std::string();
  return host == "/" ? hd.root : hd.root + host;
}

std::string current_dir() { return hd.cwd; }
void set_chdir_success_value(int value) { hd.chdir_success = value; }

int open_files() { return static_cast<int>(hd.files.size()); }

void set_foreign_device(const std::string &host_path) {
  std::string host;
  if (normalize("/", host_path.c_str(), &host)) hd.foreign.push_back(host);
}

}  // namespace sim
