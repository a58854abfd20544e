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

#include "sim/internal.h"

namespace sim::detail {
namespace {

OpenFile *checked(TYPE_File *file, const char *call) {
  auto *f = reinterpret_cast<OpenFile *>(file);
  if (state().files.count(f) == 0) {
    char text[96];
    std::snprintf(text, sizeof text, "%s on a handle that is not open (%p)", call, static_cast<void *>(file));
    fatal(text);
  }
  return f;
}

// Resolves a module-given name to host and real path; false when it cannot name an entry
// on the disk.
bool resolve(const char *name, std::string *host, std::string *real) {
  if (name == nullptr || *name == '\0' || state().disk.empty()) return false;
  if (!normalize(state().cwd, name, host)) return false;
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

bool real_path(const std::string &host_path, std::string *real) {
  const std::string &disk = state().disk;
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

std::string last_component(const std::string &host_path) {
  const size_t slash = host_path.rfind('/');
  return slash == std::string::npos ? host_path : host_path.substr(slash + 1);
}

int map_os_path(const char *path, std::string *real) {
  if (path == nullptr || std::strncmp(path, "/mnt/hd", 7) != 0 || (path[7] != '\0' && path[7] != '/'))
    return 0;
  std::string host;
  if (state().disk.empty()) {
    errno = ENOENT;
    return -1;
  }
  const std::string rest = path[7] == '\0' ? std::string("/") : std::string(path + 7);
  if (!normalize("/", rest.c_str(), &host) || !real_path(host, real)) {
    errno = EACCES;
    return -1;
  }
  return 1;
}

uint64_t reported_device(uint64_t real_dev, const std::string &host_path) {
  for (const std::string &f : state().foreign) {
    if (host_path == f || (host_path.size() > f.size() && host_path.compare(0, f.size(), f) == 0 &&
                           (f == "/" || host_path[f.size()] == '/')))
      return FOREIGN_DEVICE;
  }
  if (real_dev == state().disk_dev) return DISK_DEVICE;
  return real_dev == static_cast<uint64_t>(DISK_DEVICE) ? static_cast<uint64_t>(FOREIGN_DEVICE) : real_dev;
}

bool file_fault(FileOp op, const std::string &name, const std::string &other_name) {
  State &s = state();
  ++s.op_calls[static_cast<int>(op)];
  bool fail = false;
  for (size_t i = 0; i < s.faults.size();) {
    FaultRule &r = s.faults[i];
    if (r.op == op && (r.name.empty() || r.name == name || (!other_name.empty() && r.name == other_name))) {
      if (r.always) {
        fail = true;
      } else if (++r.seen == r.nth) {
        fail = true;
        s.faults.erase(s.faults.begin() + static_cast<std::ptrdiff_t>(i));
        continue;
      }
    }
    ++i;
  }
  return fail;
}

// ---- the TAP_Hdd_ calls -----------------------------------------------------------
int impl_TAP_Hdd_ChangeDir(const char *dir) {
  note_call();
  State &s = state();
  const int failure = s.chdir_success == 0 ? 1 : 0;
  std::string host, real;
  const bool named = dir != nullptr && *dir != '\0' && !s.disk.empty() && normalize(s.cwd, dir, &host);
  if (file_fault(FileOp::ChangeDir, named ? last_component(host) : std::string())) return failure;
  if (!named || !real_path(host, &real)) return failure;
  struct stat st;
  if (::lstat(real.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return failure;
  s.cwd = host;
  set_task_path(host);
  return s.chdir_success;
}

int impl_TAP_Hdd_Exist(const char *name) {
  note_call();
  std::string host, real;
  const bool ok = resolve(name, &host, &real);
  if (file_fault(FileOp::Exist, ok ? last_component(host) : std::string())) return 0;
  struct stat st;
  return ok && ::lstat(real.c_str(), &st) == 0 ? 1 : 0;
}

uint32_t create(const char *name, uint32_t attr);

uint32_t impl_TAP_Hdd_Create(const char *name, uint32_t attr) {
  const uint32_t r = create(name, attr);
  return state().host.opaque_results ? static_cast<uint32_t>(opaque_result()) : r;
}

uint32_t create(const char *name, uint32_t attr) {
  note_call();
  std::string host, real;
  const bool ok = resolve(name, &host, &real);
  if (file_fault(FileOp::Create, ok ? last_component(host) : std::string()) || !ok || host == "/") return 0;
  struct stat st;
  if (attr == ATTR_FILE) {
    const int fd = ::open(real.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) {
      ::close(fd);
      return 1;
    }
    return errno == EEXIST && ::lstat(real.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? 1 : 0;
  }
  if (attr == ATTR_FOLDER) {
    if (::mkdir(real.c_str(), 0755) == 0) return 1;
    return errno == EEXIST && ::lstat(real.c_str(), &st) == 0 && S_ISDIR(st.st_mode) ? 1 : 0;
  }
  return 0;
}

int remove_entry(const char *name);

int impl_TAP_Hdd_Delete(const char *name) {
  const int r = remove_entry(name);
  return state().host.opaque_results ? opaque_result() : r;
}

int remove_entry(const char *name) {
  note_call();
  std::string host, real;
  const bool ok = resolve(name, &host, &real);
  if (file_fault(FileOp::Delete, ok ? last_component(host) : std::string()) || !ok || host == "/") return 0;
  struct stat st;
  if (::lstat(real.c_str(), &st) != 0) return 0;
  // Folders only when empty: nothing is ever deleted by accident of a recursive walk.
  return (S_ISDIR(st.st_mode) ? ::rmdir(real.c_str()) : ::unlink(real.c_str())) == 0 ? 1 : 0;
}

TYPE_File *impl_TAP_Hdd_Fopen(const char *name) {
  note_call();
  std::string host, real;
  const bool ok = resolve(name, &host, &real);
  if (file_fault(FileOp::Open, ok ? last_component(host) : std::string()) || !ok) return nullptr;
  int fd = ::open(real.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0 && (errno == EACCES || errno == EROFS)) fd = ::open(real.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return nullptr;
  struct stat st;
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return nullptr;
  }
  auto *f = new OpenFile{fd, last_component(host), host};
  state().files.insert(f);
  return reinterpret_cast<TYPE_File *>(f);
}

uint32_t impl_TAP_Hdd_Fread(void *buf, uint32_t blockSize, uint32_t blockCount, TYPE_File *file) {
  note_call();
  OpenFile *f = checked(file, "TAP_Hdd_Fread");
  if (file_fault(FileOp::Read, f->name) || blockSize == 0) return 0;
  const uint64_t want = static_cast<uint64_t>(blockSize) * blockCount;
  uint64_t got = 0;
  while (got < want) {
    const ssize_t n = ::read(f->fd, static_cast<char *>(buf) + got, static_cast<size_t>(want - got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<uint64_t>(n);
  }
  return static_cast<uint32_t>(got / blockSize);
}

uint32_t impl_TAP_Hdd_Fwrite(const void *buf, uint32_t blockSize, uint32_t blockCount, TYPE_File *file) {
  note_call();
  OpenFile *f = checked(file, "TAP_Hdd_Fwrite");
  if (file_fault(FileOp::Write, f->name) || blockSize == 0) return 0;
  State &s = state();
  uint64_t want = static_cast<uint64_t>(blockSize) * blockCount;
  if (s.write_budget >= 0) {
    want = std::min<uint64_t>(want, static_cast<uint64_t>(s.write_budget));
    s.write_budget -= static_cast<long long>(want);
  }
  uint64_t done = 0;
  while (done < want) {
    const ssize_t n = ::write(f->fd, static_cast<const char *>(buf) + done, static_cast<size_t>(want - done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<uint64_t>(n);
  }
  return static_cast<uint32_t>(done / blockSize);
}

uint32_t impl_TAP_Hdd_Fseek(TYPE_File *file, int32_t offset, uint32_t origin) {
  note_call();
  OpenFile *f = checked(file, "TAP_Hdd_Fseek");
  if (file_fault(FileOp::Seek, f->name)) return UINT32_MAX;
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
  note_call();
  OpenFile *f = checked(file, "TAP_Hdd_Flen");
  struct stat st;
  if (::fstat(f->fd, &st) != 0) return 0;
  // Recordings can exceed 4 GiB; the 32-bit length saturates.
  return st.st_size > static_cast<off_t>(UINT32_MAX) ? UINT32_MAX : static_cast<uint32_t>(st.st_size);
}

void impl_TAP_Hdd_Fclose(TYPE_File *file) {
  note_call();
  OpenFile *f = checked(file, "TAP_Hdd_Fclose");
  ::close(f->fd);
  state().files.erase(f);
  delete f;
}

int impl_TAP_Hdd_Rename(const char *oldName, const char *newName) {
  note_call();
  std::string old_host, old_real, new_host, new_real;
  const bool ok_old = resolve(oldName, &old_host, &old_real);
  const bool ok_new = resolve(newName, &new_host, &new_real);
  if (file_fault(FileOp::Rename, ok_old ? last_component(old_host) : std::string(),
                 ok_new ? last_component(new_host) : std::string()))
    return 0;
  if (!ok_old || !ok_new || old_host == "/" || new_host == "/") return 0;
  struct stat st;
  if (::lstat(old_real.c_str(), &st) != 0) return 0;
  if (state().host.posix_rename) {
    const int r = ::rename(old_real.c_str(), new_real.c_str()) == 0 ? 1 : 0;
    return state().host.opaque_results ? opaque_result() : r;
  }
  if (state().host.opaque_results) {
    if (::renameat2(AT_FDCWD, old_real.c_str(), AT_FDCWD, new_real.c_str(), RENAME_NOREPLACE) != 0 &&
        (errno == EINVAL || errno == ENOSYS) && ::lstat(new_real.c_str(), &st) != 0)
      ::rename(old_real.c_str(), new_real.c_str());
    return opaque_result();
  }
  // Never overwrite: the new name must be free, checked and taken in one step.
  if (::renameat2(AT_FDCWD, old_real.c_str(), AT_FDCWD, new_real.c_str(), RENAME_NOREPLACE) == 0) return 1;
  if (errno != EINVAL && errno != ENOSYS) return 0;
  if (::lstat(new_real.c_str(), &st) == 0 || errno != ENOENT) return 0;
  return ::rename(old_real.c_str(), new_real.c_str()) == 0 ? 1 : 0;
}

int impl_TAP_Hdd_FindFirst(HddFolderEntry *entry, const char *filter) {
  note_call();
  State &s = state();
  s.listing.clear();
  s.listing_pos = 0;
  if (entry != nullptr) std::memset(entry, 0, sizeof *entry);
  if (file_fault(FileOp::FindFirst, last_component(s.cwd))) return 0;
  std::string real;
  if (s.disk.empty() || !real_path(s.cwd, &real)) return 0;
  DIR *d = ::opendir(real.c_str());
  if (d == nullptr) return 0;
  while (struct dirent *e = ::readdir(d)) {
    const std::string name = e->d_name;
    if (name == "." || name == "..") {
      if (s.host.dot_entries) s.listing.emplace_back(uint32_t{ATTR_FOLDER}, name);
      continue;
    }
    // A name that does not fit the entry is left out rather than cut to another name.
    if (name.size() >= sizeof entry->name) continue;
    struct stat st;
    if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    const bool folder = S_ISDIR(st.st_mode);
    if (!folder && !S_ISREG(st.st_mode)) continue;  // links, devices, pipes
    if (!filter_takes(filter, folder, name)) continue;
    s.listing.emplace_back(folder ? uint32_t{ATTR_FOLDER} : uint32_t{ATTR_FILE}, name);
  }
  ::closedir(d);
  if (!s.host.disk_order)
    std::sort(s.listing.begin(), s.listing.end(), [](const auto &a, const auto &b) { return a.second < b.second; });
  if (!s.listing.empty() && entry != nullptr) fill_entry(entry, s.listing[0]);
  return static_cast<int>(s.listing.size());
}

int impl_TAP_Hdd_FindNext(HddFolderEntry *entry) {
  note_call();
  State &s = state();
  int r = 1;
  if (s.listing_pos + 1 >= s.listing.size()) {
    s.listing_pos = s.listing.size();
    r = 0;
  } else {
    ++s.listing_pos;
    if (entry != nullptr) fill_entry(entry, s.listing[s.listing_pos]);
  }
  return s.host.opaque_results ? opaque_result() : r;
}

}  // namespace sim::detail

// ---- control API ------------------------------------------------------------------
namespace sim {
using namespace sim::detail;

void set_disk(const std::string &dir) {
  State &s = state();
  for (const std::string &sub : {std::string(), std::string("/ProgramFiles"), std::string("/DataFiles")}) {
    // Create the folder and any missing parents.
    const std::string path = dir + sub;
    for (size_t i = 1; i <= path.size(); ++i) {
      if (i == path.size() || path[i] == '/') ::mkdir(path.substr(0, i).c_str(), 0755);
    }
  }
  char *canon = ::realpath(dir.c_str(), nullptr);
  if (canon == nullptr) {
    s.disk.clear();
    return;
  }
  s.disk = canon;
  std::free(canon);
  struct stat st;
  s.disk_dev = ::stat(s.disk.c_str(), &st) == 0 ? st.st_dev : 0;
  s.cwd = "/ProgramFiles";
  set_task_path(s.cwd);
}

const std::string &disk() { return state().disk; }

std::string host_to_real(const std::string &host_path) {
  std::string host;
  if (state().disk.empty() || !normalize("/", host_path.c_str(), &host)) return std::string();
  return host == "/" ? state().disk : state().disk + host;
}

std::string current_dir() { return state().cwd; }
void set_chdir_success_value(int value) { state().chdir_success = value; }

namespace {
const std::vector<std::string> kProfiles = {"posix-rename", "opaque-results", "dot-entries", "disk-order",
                                            "chdir-zero",   "short-args",     "tick-wrap",   "strict"};
}  // namespace

const std::vector<std::string> &host_profile_names() { return kProfiles; }

bool set_host_profiles(const std::string &list) {
  detail::HostProfile h = state().host;
  int chdir = state().chdir_success;
  size_t at = 0;
  while (at <= list.size()) {
    size_t comma = list.find(',', at);
    if (comma == std::string::npos) comma = list.size();
    const std::string name = list.substr(at, comma - at);
    const bool all = name == "strict";
    bool known = all;
    if (all || name == "posix-rename") h.posix_rename = known = true;
    if (all || name == "opaque-results") h.opaque_results = known = true;
    if (all || name == "dot-entries") h.dot_entries = known = true;
    if (all || name == "disk-order") h.disk_order = known = true;
    if (all || name == "short-args") h.short_args = known = true;
    if (all || name == "tick-wrap") h.tick_wrap = known = true;
    if (all || name == "chdir-zero") {
      chdir = 0;
      known = true;
    }
    if (!known) return false;
    at = comma + 1;
  }
  state().host = h;
  state().chdir_success = chdir;
  return true;
}
int open_files() { return static_cast<int>(state().files.size()); }

void set_foreign_device(const std::string &host_path) {
  std::string host;
  if (normalize("/", host_path.c_str(), &host)) state().foreign.push_back(host);
}

const std::vector<std::string> &system_commands() { return state().system_commands; }

void fail_file_op(FileOp op, uint64_t nth, const std::string &name) {
  if (nth == 0) return;
  state().faults.push_back(FaultRule{op, name, nth, 0, false});
}

void fail_file_op_always(FileOp op, const std::string &name) {
  state().faults.push_back(FaultRule{op, name, 0, 0, true});
}

void set_write_budget(long long bytes) { state().write_budget = bytes < 0 ? -1 : bytes; }
uint64_t file_op_calls(FileOp op) { return state().op_calls[static_cast<int>(op)]; }

void clear_faults() {
  state().faults.clear();
  state().write_budget = -1;
  state().alloc_fail_at = 0;
  state().alloc_fail_from = 0;
}

}  // namespace sim
