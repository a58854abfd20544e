// The disk's cache as a power cut sees it. While the model is on, every change the module
// makes to the disk is noted: the content each written file had when it was last made
// durable, and each folder's name changes (create, delete, rename, make folder) in order.
// A sync of a file makes its data durable; a sync of a folder its name changes so far.
// lose_cache() then puts onto the real disk what a cut at this moment leaves.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "sim/internal.h"

namespace sim::detail {
namespace {

enum class Op { Create, Remove, Rename };

// One change of names. A rename between two folders belongs to both and is atomic.
struct Change {
  Op op = Op::Create;
  std::string folder, name;          // Create, Remove: the entry; Rename: the old one
  std::string to_folder, to_name;    // Rename: the new one
  std::string stash;                 // Remove of a file: where its inode is kept
  bool is_folder = false;
  bool synced = false;               // made durable by a sync of one of its folders
};

struct Cache {
  bool on = false;
  std::map<uint64_t, std::string> durable;  // inode -> its content at the last sync
  std::vector<Change> changes;              // in the order made
  std::string stash_dir;
  uint64_t stashed = 0;
  uint64_t syncs = 0;
  bool ignore_syncs = false;
} cache;

std::string parent_of(const std::string &real) { return real.substr(0, real.rfind('/')); }
std::string name_of(const std::string &real) { return real.substr(real.rfind('/') + 1); }

bool read_whole(int fd, std::string *out) {
  out->clear();
  char buf[65536];
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(fd, buf, sizeof buf, at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    out->append(buf, static_cast<size_t>(n));
    at += n;
  }
}

bool write_whole(const std::string &path, const std::string &content) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return false;
  size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::write(fd, content.data() + done, content.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  return done == content.size();
}

Change change(Op op, const std::string &real, const std::string &to = std::string()) {
  Change c;
  c.op = op;
  c.folder = parent_of(real);
  c.name = name_of(real);
  if (!to.empty()) {
    c.to_folder = parent_of(to);
    c.to_name = name_of(to);
  }
  return c;
}

uint64_t inode_of(const std::string &real) {
  struct stat st;
  return ::lstat(real.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_ino) : 0;
}

// Which changes a cut keeps: within each folder a prefix of its changes, every synced one
// with all before it in its folders, a rename in both of its folders or in neither, and
// nothing inside a folder whose making is lost. `lose` marks the changes a variant gives
// up; with them goes whatever comes after them in one of their folders.
std::vector<bool> kept_changes(const std::vector<bool> &lose) {
  const std::vector<Change> &c = cache.changes;
  const size_t n = c.size();
  auto in = [&](size_t i, const std::string &f) {
    return c[i].folder == f || (c[i].op == Op::Rename && c[i].to_folder == f);
  };
  // j comes before i in one of i's folders, or makes the folder i is in.
  auto before = [&](size_t i, size_t j) {
    if (in(j, c[i].folder) || (c[i].op == Op::Rename && in(j, c[i].to_folder))) return true;
    if (c[j].op != Op::Create || !c[j].is_folder) return false;
    const std::string dir = c[j].folder + "/" + c[j].name;
    for (const std::string *f : {&c[i].folder, &c[i].to_folder})
      if (*f == dir || f->compare(0, dir.size() + 1, dir + "/") == 0) return true;
    return false;
  };
  std::vector<bool> must(n), lost(n);
  for (size_t i = n; i-- > 0;) {
    if (c[i].synced) must[i] = true;
    if (!must[i]) continue;
    for (size_t j = 0; j < i; ++j)
      if (!must[j] && before(i, j)) must[j] = true;
  }
  for (size_t j = 0; j < n; ++j) {
    if (!lost[j] && !(lose[j] && !must[j])) continue;
    lost[j] = true;
    for (size_t i = j + 1; i < n; ++i)
      if (!lost[i] && before(i, j)) lost[i] = true;
  }
  std::vector<bool> keep(n);
  for (size_t i = 0; i < n; ++i) keep[i] = !lost[i];
  return keep;
}

// Undoes one lost change on the real disk.
void undo(const Change &c) {
  const std::string at = c.folder + "/" + c.name;
  switch (c.op) {
    case Op::Create:
      if (c.is_folder)
        ::rmdir(at.c_str());
      else
        ::unlink(at.c_str());
      break;
    case Op::Remove:
      if (c.is_folder)
        ::mkdir(at.c_str(), 0755);
      else if (!c.stash.empty())
        ::rename(c.stash.c_str(), at.c_str());
      break;
    case Op::Rename: ::rename((c.to_folder + "/" + c.to_name).c_str(), at.c_str()); break;
  }
}

// The data of every file written since its last sync: lost (the content of that sync),
// or torn (the new length, 4 KiB blocks alternately as they were and as written).
void lose_data(const std::string &dir, bool torn) {
  DIR *d = ::opendir(dir.c_str());
  if (d == nullptr) return;
  std::vector<std::string> names;
  while (struct dirent *e = ::readdir(d))
    if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) names.emplace_back(e->d_name);
  ::closedir(d);
  for (const std::string &name : names) {
    const std::string path = dir + "/" + name;
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      lose_data(path, torn);
      continue;
    }
    if (!S_ISREG(st.st_mode)) continue;
    const auto it = cache.durable.find(static_cast<uint64_t>(st.st_ino));
    if (it == cache.durable.end()) continue;
    std::string content = it->second;
    if (torn) {
      std::string now;
      const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
      if (fd < 0) continue;
      const bool read = read_whole(fd, &now);
      ::close(fd);
      if (!read) continue;
      std::string old = content;
      old.resize(now.size(), '\0');
      content = now;
      for (size_t block = 0; block * 4096 < now.size(); block += 2)
        content.replace(block * 4096, std::min<size_t>(4096, now.size() - block * 4096), old, block * 4096,
                        std::min<size_t>(4096, now.size() - block * 4096));
    }
    write_whole(path, content);
  }
}

}  // namespace

bool cache_on() { return cache.on; }

void cache_before_write(int fd) {
  struct stat st;
  if (!cache.on || ::fstat(fd, &st) != 0) return;
  const uint64_t ino = static_cast<uint64_t>(st.st_ino);
  if (cache.durable.count(ino) != 0) return;
  std::string content;
  if (read_whole(fd, &content)) cache.durable[ino] = content;
}

void cache_created(const std::string &real, bool is_folder) {
  if (!cache.on) return;
  Change c = change(Op::Create, real);
  c.is_folder = is_folder;
  cache.changes.push_back(c);
  // A new file's content is durable as empty.
  if (!is_folder) cache.durable.emplace(inode_of(real), std::string());
}

bool cache_remove(const std::string &real) {
  struct stat st;
  if (::lstat(real.c_str(), &st) != 0) return false;
  if (S_ISDIR(st.st_mode)) {
    if (::rmdir(real.c_str()) != 0) return false;
    if (cache.on) {
      Change c = change(Op::Remove, real);
      c.is_folder = true;
      cache.changes.push_back(c);
    }
    return true;
  }
  if (!cache.on) return ::unlink(real.c_str()) == 0;
  // The inode lives on in the stash until the delete is known durable: a cut may undo it.
  char name[32];
  std::snprintf(name, sizeof name, "/%llu", static_cast<unsigned long long>(++cache.stashed));
  const std::string stash = cache.stash_dir + name;
  Change c = change(Op::Remove, real);
  if (::rename(real.c_str(), stash.c_str()) == 0)
    c.stash = stash;
  else if (::unlink(real.c_str()) != 0)  // another file system: the delete cannot be undone
    return false;
  cache.changes.push_back(c);
  return true;
}

void cache_renamed(const std::string &from, const std::string &to) {
  if (!cache.on) return;
  Change c = change(Op::Rename, from, to);
  cache.changes.push_back(c);
}

void cache_synced(int fd) {
  ++cache.syncs;
  if (!cache.on || cache.ignore_syncs) return;
  struct stat st;
  if (::fstat(fd, &st) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    cache.durable.erase(static_cast<uint64_t>(st.st_ino));
    return;
  }
  // The folder by its path: which of the noted folders is this one.
  for (Change &c : cache.changes) {
    for (const std::string *f : {&c.folder, &c.to_folder}) {
      if (f->empty() || c.synced) continue;
      struct stat fs;
      if (::lstat(f->c_str(), &fs) == 0 && fs.st_ino == st.st_ino && fs.st_dev == st.st_dev) c.synced = true;
    }
  }
  return;
}

void reset_cache() {
  if (!cache.stash_dir.empty()) {
    // What was stashed for an undo that can no longer come.
    for (uint64_t i = 1; i <= cache.stashed; ++i) ::unlink((cache.stash_dir + "/" + std::to_string(i)).c_str());
    ::rmdir(cache.stash_dir.c_str());
  }
  cache = Cache{};
}

}  // namespace sim::detail

namespace sim {
using namespace sim::detail;

bool model_cache(bool on) {
  reset_cache();
  if (!on) return true;
  if (disk().empty()) return false;
  // Beside the disk, on the same file system, so that a stashed file keeps its inode.
  cache.stash_dir = disk() + ".cache-stash";
  ::mkdir(cache.stash_dir.c_str(), 0700);
  struct stat st;
  if (::lstat(cache.stash_dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  cache.on = true;
  return true;
}

void ignore_syncs(bool ignore) { cache.ignore_syncs = ignore; }
uint64_t syncs() { return cache.syncs; }

int lose_cache(Loss loss, int folder) {
  if (!cache.on) return 0;
  const std::vector<Change> &c = cache.changes;
  // The folders that hold a change not yet durable, in a fixed order.
  std::set<std::string> open;
  for (const Change &x : c) {
    if (x.synced) continue;
    open.insert(x.folder);
    if (x.op == Op::Rename) open.insert(x.to_folder);
  }
  const std::vector<std::string> folders(open.begin(), open.end());
  std::vector<bool> lose(c.size(), false);
  if (loss == Loss::Names) lose.assign(c.size(), true);
  if (loss == Loss::Folder && folder >= 0 && static_cast<size_t>(folder) < folders.size()) {
    for (size_t i = 0; i < c.size(); ++i)
      lose[i] = c[i].folder == folders[static_cast<size_t>(folder)] ||
                (c[i].op == Op::Rename && c[i].to_folder == folders[static_cast<size_t>(folder)]);
  }
  const std::vector<bool> keep = kept_changes(lose);
  for (size_t i = c.size(); i-- > 0;)
    if (!keep[i]) undo(c[i]);
  if (loss != Loss::Nothing) lose_data(disk(), loss == Loss::Torn);
  reset_cache();
  return static_cast<int>(folders.size());
}

}  // namespace sim
