// The operating-system calls the module makes with absolute paths. Each of these
// definitions, exported from the executable, comes before the C library's in the
// dynamic linker's search; it handles only its own case and hands every other call
// to the next definition.
#undef _FORTIFY_SOURCE  // its inline wrappers would clash with these definitions

#include <dirent.h>
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "host/os.h"
#include "sim/internal.h"

namespace {

template <typename F>
F next_definition(const char *name) {
  void *p = dlsym(RTLD_NEXT, name);
  if (p == nullptr) {
    std::fprintf(stderr, "simulated recorder: no C library definition of %s\n", name);
    std::_Exit(127);
  }
  return reinterpret_cast<F>(p);
}
// In each definition below: `real`, the one it stands in for.
#define QUARROW_SIM_NEXT(name) static const auto real = next_definition<decltype(&::name)>(#name)

using sim::Call;
using sim::detail::decide;
using sim::detail::last_component;
using sim::detail::map_os_path;

// Looked up at start, before the loader has an error to report: a look-up clears it. (A
// sanitizer runtime asks even earlier, with nothing pending.)
using Dlerror = char *(*)();
Dlerror real_dlerror_at = nullptr;
Dlerror real_dlerror() {
  if (real_dlerror_at == nullptr) real_dlerror_at = next_definition<Dlerror>("dlerror");
  return real_dlerror_at;
}
[[maybe_unused]] const Dlerror dlerror_at_start = real_dlerror();

// The module opens the running program to look up the firmware tables in it.
void *self_handle = nullptr;

// What the module holds open through these calls: by descriptor or stream, the last
// component of what it names, for rules by name.
struct Os {
  std::string uptime = "600.00";
  std::vector<std::string> system_commands;
  std::vector<int> terminal_flags;
  std::map<int, std::string> fds;        // files and folders on the disk, terminals
  std::map<DIR *, std::string> streams;  // folder listings on the disk
  std::set<FILE *> uptime_files;
} intercepted;

// The recorder's open() flags (its C library's values) as this machine's.
int host_open_flags(int flags) {
  struct Bit {
    int recorder, host;
  };
  static const Bit kBits[] = {{0x8, O_APPEND},  {os::O_NONBLOCKING, O_NONBLOCK}, {0x100, O_CREAT},
                              {0x200, O_TRUNC}, {0x400, O_EXCL},                 {os::O_NO_CTTY, O_NOCTTY}};
  int out = flags & O_ACCMODE;
  for (const Bit &b : kBits)
    if ((flags & b.recorder) != 0) out |= b.host;
  return out;
}

// errno as the verdict says, and `failure` for the caller to return.
template <typename T>
T failed(const sim::detail::Verdict &v, T failure) {
  errno = v.error_or(EIO);
  return v.result(failure);
}

// A close of a handle the module holds (by `held`): it ends under any verdict, as the C
// library's does; any other handle is closed unseen.
template <typename Held, typename Handle, typename Real>
int close_held(Held &held, Handle handle, Call call, Real real) {
  const auto it = held.find(handle);
  if (it == held.end()) return real(handle);
  const auto v = decide(call, it->second);
  held.erase(it);
  const int r = real(handle);
  return v ? failed(v, -1) : r;
}

// "/dev/pts/<digits>": the number, else -1.
int terminal_number(const char *path) {
  if (path == nullptr || std::strncmp(path, "/dev/pts/", 9) != 0) return -1;
  const char *p = path + 9;
  if (*p < '0' || *p > '9') return -1;
  long n = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    n = n * 10 + (*p - '0');
    if (n > 1000000) return -1;
  }
  return *p == '\0' ? static_cast<int>(n) : -1;
}

// The terminal echo never reaches a real terminal: the one configured device is a
// pipe that the simulator drains into its console; every other device fails.
bool terminal_open(const char *path, int flags, int *fd) {
  const int n = terminal_number(path);
  if (n < 0) return false;
  if (const auto v = decide(Call::open, last_component(path))) {
    errno = v.error_or(EIO);
    *fd = v.result(-1);
    return true;
  }
  *fd = sim::detail::open_terminal(n, (flags & os::O_NONBLOCKING) != 0);
  intercepted.terminal_flags.push_back(flags);
  if (*fd >= 0) intercepted.fds[*fd] = "pts";
  return true;
}

bool is_uptime(const char *path) { return path != nullptr && std::strcmp(path, "/proc/uptime") == 0; }

FILE *uptime_file() {
  if (const auto v = decide(Call::fopen, "uptime")) return reinterpret_cast<FILE *>(failed<uintptr_t>(v, 0));
  const std::string &text = intercepted.uptime;
  if (text.empty()) {
    errno = ENOENT;
    return nullptr;
  }
  FILE *f = std::tmpfile();
  if (f == nullptr) return nullptr;
  std::fwrite(text.data(), 1, text.size(), f);
  std::rewind(f);
  intercepted.uptime_files.insert(f);
  return f;
}

std::string shell_quote(const std::string &s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'')
      out += "'\\''";
    else
      out += c;
  }
  return out + "'";
}

// Replaces the disk's OS prefix of every word of the command by the quoted disk folder.
// A final component with a wildcard stays outside the quotes so that the shell expands
// it. False when a word would reach outside the disk.
// `absent`: the paths on the disk that the command names and that do not exist yet.
bool map_command(const std::string &command, std::string *out, std::vector<std::string> *absent) {
  out->clear();
  size_t i = 0;
  while (i < command.size()) {
    if (command[i] == ' ' || command[i] == '\t') {
      *out += command[i++];
      continue;
    }
    size_t j = i;
    while (j < command.size() && command[j] != ' ' && command[j] != '\t') ++j;
    const std::string word = command.substr(i, j - i);
    i = j;
    const char *const on_disk = sim::detail::os_rest(word.c_str());
    if (on_disk == nullptr) {
      *out += word;
      continue;
    }
    const std::string &disk = sim::disk();
    if (disk.empty()) return false;
    const std::string rest = on_disk;
    for (size_t p = 0; p <= rest.size();) {
      size_t q = rest.find('/', p);
      if (q == std::string::npos) q = rest.size();
      if (rest.compare(p, q - p, "..") == 0 && q - p == 2) return false;
      p = q + 1;
    }
    const size_t glob = rest.find_first_of("*?[");
    struct stat64 st;
    if (glob == std::string::npos && ::lstat64((disk + rest).c_str(), &st) != 0) absent->push_back(disk + rest);
    if (glob == std::string::npos) {
      *out += shell_quote(disk + rest);
    } else {
      const size_t cut = rest.rfind('/', glob);
      *out += shell_quote(disk + rest.substr(0, cut)) + rest.substr(cut);
    }
  }
  return true;
}

// A path on the disk or a terminal takes the recorder's flags; every other path this
// machine's, handed on.
int open_common(const char *name, const char *path, int flags, va_list ap) {
  static const auto real_open = next_definition<decltype(&::open)>("open");
  static const auto real_open64 = next_definition<decltype(&::open64)>("open64");
  const auto real = std::strcmp(name, "open") == 0 ? real_open : real_open64;
  int fd;
  if (terminal_open(path, flags, &fd)) return fd;
  std::string mapped;
  const int m = map_os_path(path, &mapped);
  if (m < 0) return -1;
  if (m > 0) {
    if (const auto v = decide(Call::open, last_component(mapped))) return failed(v, -1);
    fd = real(mapped.c_str(), (host_open_flags(flags) & ~O_CREAT) | O_CLOEXEC);
    if (fd >= 0) intercepted.fds[fd] = last_component(mapped);
    return fd;
  }
  mode_t mode = 0;
  if ((flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE) mode = static_cast<mode_t>(va_arg(ap, int));
  return real(path, flags, mode);
}

}  // namespace

void sim::detail::reset_os() { intercepted = Os{}; }
void sim::set_uptime_text(const std::string &text) { intercepted.uptime = text; }
const std::vector<std::string> &sim::system_commands() { return intercepted.system_commands; }
std::vector<int> sim::terminal_open_flags() { return intercepted.terminal_flags; }

extern "C" {

DIR *opendir(const char *name) {
  QUARROW_SIM_NEXT(opendir);
  std::string mapped;
  const int m = map_os_path(name, &mapped);
  if (m < 0) return nullptr;
  if (m == 0) return real(name);
  if (const auto v = decide(Call::opendir, last_component(mapped))) return reinterpret_cast<DIR *>(failed<uintptr_t>(v, 0));
  struct stat64 st;
  // Never follow a symbolic link off the disk.
  if (::lstat64(mapped.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
    errno = ELOOP;
    return nullptr;
  }
  DIR *d = real(mapped.c_str());
  if (d != nullptr) intercepted.streams[d] = last_component(mapped);
  return d;
}

struct dirent *readdir(DIR *dir) {
  QUARROW_SIM_NEXT(readdir);
  const auto it = intercepted.streams.find(dir);
  if (it == intercepted.streams.end()) return real(dir);
  if (const auto v = decide(Call::readdir, it->second)) return reinterpret_cast<struct dirent *>(failed<uintptr_t>(v, 0));
#if __SIZEOF_POINTER__ == 4
  // A 32-bit readdir fails on entries whose 64-bit directory offset does not fit its
  // record, which a 64-bit kernel gives a 32-bit process under an emulator. Streams on the
  // disk are read with readdir64; the module uses only the names.
  static struct dirent out;
  struct dirent64 *e = ::readdir64(dir);
  if (e == nullptr) return nullptr;
  std::memset(&out, 0, sizeof out);
  out.d_ino = static_cast<ino_t>(e->d_ino);
  out.d_off = static_cast<off_t>(e->d_off);
  out.d_reclen = sizeof out;
  out.d_type = e->d_type;
  std::snprintf(out.d_name, sizeof out.d_name, "%s", e->d_name);
  return &out;
#else
  return real(dir);
#endif
}

int closedir(DIR *dir) {
  QUARROW_SIM_NEXT(closedir);
  return close_held(intercepted.streams, dir, Call::closedir, real);
}

int lstat64(const char *path, struct stat64 *buf) __THROW {
  QUARROW_SIM_NEXT(lstat64);
  std::string mapped;
  const int m = map_os_path(path, &mapped);
  if (m < 0) return -1;
  if (m == 0) return real(path, buf);
  if (const auto v = decide(Call::lstat64, last_component(mapped))) {
    errno = v.error_or(ENOENT);
    return v.result(-1);
  }
  const int r = real(mapped.c_str(), buf);
  if (r == 0) {
    std::string host;
    const char *const on_disk = sim::detail::os_rest(path);
    sim::detail::normalize("/", *on_disk == '\0' ? "/" : on_disk, &host);
    buf->st_dev = static_cast<dev_t>(sim::detail::reported_device(buf->st_dev, host));
  }
  return r;
}

// Both names on the disk: renamed there, under the policy (by either last component).
// A rename with one name on the disk and one off it is refused, as it would cross devices.
int rename(const char *from, const char *to) __THROW {
  QUARROW_SIM_NEXT(rename);
  std::string real_from, real_to;
  const int m_from = map_os_path(from, &real_from);
  const int m_to = map_os_path(to, &real_to);
  if (m_from == 0 && m_to == 0) return real(from, to);
  if (m_from < 0 || m_to < 0) return -1;
  if (m_from == 0 || m_to == 0) {
    errno = EXDEV;
    return -1;
  }
  if (const auto v = decide(Call::rename, last_component(real_from), last_component(real_to))) return failed(v, -1);
  const int r = real(real_from.c_str(), real_to.c_str());
  if (r == 0) sim::detail::cache_renamed(real_from, real_to);
  return r;
}

int system(const char *command) {
  QUARROW_SIM_NEXT(system);
  if (command == nullptr) return real(command);
  intercepted.system_commands.emplace_back(command);
  if (const auto v = decide(Call::system)) return failed(v, -1);
  // As an older kernel: the command line, as the shell would expand it, must fit 128 KiB.
  if (sim::detail::host_does(Call::system, sim::detail::SHORT_ARGS) && std::strlen(command) > 128 * 1024) {
    errno = E2BIG;
    return -1;
  }
  std::string mapped;
  std::vector<std::string> made;
  if (!map_command(command, &mapped, &made)) {
    errno = EACCES;
    return -1;
  }
  const int r = real(mapped.c_str());
  // The folders the command made are name changes like any other.
  struct stat64 st;
  for (const std::string &path : made)
    if (::lstat64(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) sim::detail::cache_created(path, true);
  return r;
}

char *fgets(char *buffer, int size, FILE *file) {
  QUARROW_SIM_NEXT(fgets);
  if (intercepted.uptime_files.count(file) == 0) return real(buffer, size, file);
  if (const auto v = decide(Call::fgets, "uptime")) return reinterpret_cast<char *>(failed<uintptr_t>(v, 0));
  return real(buffer, size, file);
}

int fclose(FILE *file) {
  QUARROW_SIM_NEXT(fclose);
  if (intercepted.uptime_files.erase(file) == 0) return real(file);
  const auto v = decide(Call::fclose, "uptime");
  const int r = real(file);
  return v ? failed(v, EOF) : r;
}

// Descriptors the module opened on the disk or a terminal; any other goes on unseen.
ssize_t write(int fd, const void *buffer, size_t size) {
  QUARROW_SIM_NEXT(write);
  const auto it = intercepted.fds.find(fd);
  if (it == intercepted.fds.end()) return real(fd, buffer, size);
  if (const auto v = decide(Call::write, it->second)) return failed<ssize_t>(v, -1);
  return real(fd, buffer, size);
}

// Every sync reaches the operating system; the cache model notes what it made durable.
int fsync(int fd) {
  QUARROW_SIM_NEXT(fsync);
  const auto it = intercepted.fds.find(fd);
  if (it == intercepted.fds.end()) return real(fd);
  if (const auto v = decide(Call::fsync, it->second)) return failed(v, -1);
  const int r = real(fd);
  if (r == 0) sim::detail::cache_synced(fd);
  return r;
}

int close(int fd) {
  QUARROW_SIM_NEXT(close);
  return close_held(intercepted.fds, fd, Call::close, real);
}

FILE *fopen(const char *path, const char *mode) {
  QUARROW_SIM_NEXT(fopen);
  return is_uptime(path) ? uptime_file() : real(path, mode);
}

FILE *fopen64(const char *path, const char *mode) {
  QUARROW_SIM_NEXT(fopen64);
  return is_uptime(path) ? uptime_file() : real(path, mode);
}

int open(const char *path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const int r = open_common("open", path, flags, ap);
  va_end(ap);
  return r;
}

int open64(const char *path, int flags, ...) {
  va_list ap;
  va_start(ap, flags);
  const int r = open_common("open64", path, flags, ap);
  va_end(ap);
  return r;
}

// What fortified builds call instead of open when the flags are not constant.
int __open_2(const char *path, int flags) {
  static const auto real = next_definition<int (*)(const char *, int)>("__open_2");
  int fd;
  return terminal_open(path, flags, &fd) ? fd : real(path, flags);
}

int __open64_2(const char *path, int flags) {
  static const auto real = next_definition<int (*)(const char *, int)>("__open64_2");
  int fd;
  return terminal_open(path, flags, &fd) ? fd : real(path, flags);
}

// The firmware look-ups: the module opens the running program and asks it for the tables.
void *dlopen(const char *file, int flags) __THROW {
  QUARROW_SIM_NEXT(dlopen);
  if (file != nullptr) return real(file, flags);
  if (const auto v = decide(Call::dlopen)) return reinterpret_cast<void *>(v.result<uintptr_t>(0));
  void *handle = real(file, flags);
  if (handle != nullptr) self_handle = handle;
  return handle;
}

char *dlerror() __THROW {
  static char message[] = "simulated recorder: dlerror failed";
  if (decide(Call::dlerror)) return message;
  return real_dlerror()();
}

int dlclose(void *handle) __THROW {
  QUARROW_SIM_NEXT(dlclose);
  if (self_handle != nullptr && handle == self_handle) {
    if (const auto v = decide(Call::dlclose)) return v.result(-1);
  }
  return real(handle);
}

}  // extern "C"

#if defined(__x86_64__)
// dlsym: the entry below sends the module's look-ups on the handle it opened through the
// policy, and every other look-up to the C library by a jump, never a call, so that
// RTLD_NEXT still searches after the caller's own object (the sanitizer runtimes find what
// they wrap that way, before anything is set up). Other hosts do not take dlsym over.
namespace {
using Dlsym = void *(*)(void *, const char *);
Dlsym c_dlsym = nullptr;

// A failed look-up leaves the loader's own error pending; returns(v) gives a symbol whose
// value is v, with none.
void *module_dlsym(void *handle, const char *name) {
  const auto v = decide(Call::dlsym, name != nullptr ? name : "");
  if (!v) return c_dlsym(handle, name);
  if (!v.has_value) return c_dlsym(handle, "quarrow-sim: no such symbol");
  real_dlerror()();
  return reinterpret_cast<void *>(static_cast<uintptr_t>(v.value));
}
}  // namespace

extern "C" __attribute__((visibility("hidden"), no_sanitize("address", "undefined"))) Dlsym
quarrow_sim_dlsym_route(void *handle) {
  // Plain code only (no calls into instrumented code): the sanitizers are not set up yet.
  if (c_dlsym == nullptr) c_dlsym = reinterpret_cast<Dlsym>(dlvsym(RTLD_NEXT, "dlsym", "GLIBC_2.34"));
  if (c_dlsym == nullptr) c_dlsym = reinterpret_cast<Dlsym>(dlvsym(RTLD_NEXT, "dlsym", "GLIBC_2.2.5"));
  if (c_dlsym == nullptr) std::_Exit(127);
  return self_handle != nullptr && handle == self_handle ? module_dlsym : c_dlsym;
}

asm(R"(
  .text
  .globl dlsym
  .type dlsym, @function
dlsym:
  .cfi_startproc
  endbr64
  pushq %rdi
  .cfi_adjust_cfa_offset 8
  pushq %rsi
  .cfi_adjust_cfa_offset 8
  subq $8, %rsp
  .cfi_adjust_cfa_offset 8
  call quarrow_sim_dlsym_route
  addq $8, %rsp
  .cfi_adjust_cfa_offset -8
  popq %rsi
  .cfi_adjust_cfa_offset -8
  popq %rdi
  .cfi_adjust_cfa_offset -8
  jmp *%rax
  .cfi_endproc
  .size dlsym, .-dlsym
)");
#endif
