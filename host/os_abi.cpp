// The records and flag values that the module shares with the recorder's C library,
// checked when the module is built for the recorder (32-bit little-endian MIPS, o32).
// The build machine's cross headers belong to another C library; a header that lays a
// record out otherwise, or a flag that has another value, stops the build here.
//
// The recorder's library lays its records out as the MIPS o32 kernel does:
//
// struct stat64 (the kernel's record, then 14 spare words of the library's own: 160 bytes,
// all of which lstat64 writes):
//   0 st_dev (4), 4 three pad words, 16 st_ino (8), 24 st_mode (4), 28 st_nlink, 32 st_uid,
//   36 st_gid, 40 st_rdev, 44 three pad words, 56 st_size (8), 64 st_atime and its
//   nanoseconds, 72 st_mtime (4) and its nanoseconds, 80 st_ctime (4) and its nanoseconds,
//   88 st_blksize, 92 a pad word, 96 st_blocks (8), 104 the spare words. The module reads
//   st_dev, st_ino, st_mode, st_size, st_mtime, and st_ctime with its nanoseconds (the
//   scan's record of what it read, app/seenfiles.h).
// struct dirent (what readdir gives without large-file names; ino_t and off_t are 32-bit
// longs on o32): 0 d_ino (4), 4 d_off (4), 8 d_reclen (2), 10 d_type (1), 11 d_name (256),
//   268 bytes with the tail padding.
// Flags as the MIPS kernel and library number them: O_RDONLY 0, O_WRONLY 1, O_RDWR 2,
// O_NONBLOCK 0x80, O_NOCTTY 0x800 (other processors use other values); LC_NUMERIC 1;
// RTLD_LAZY 1 and RTLD_GLOBAL 4 (not 0x100 as elsewhere).
#include <cstddef>

#include "host/os.h"

// The size of a record's field (st_mtime may be a macro naming a member of a member).
#define FIELD_SIZE(record, field) sizeof(static_cast<record *>(nullptr)->field)
// A field where the module expects it: at `offset`, `size` bytes.
#define FIELD_AT(record, field, offset, size)                                   \
  static_assert(offsetof(record, field) == offset, #record ": " #field " at " #offset); \
  static_assert(FIELD_SIZE(record, field) == size, #record ": " #field " " #size " bytes")

#if !defined(__mips__) || !defined(__MIPSEL__) || _MIPS_SIM != _ABIO32
#error "host/os_abi.cpp is for the recorder's build: 32-bit little-endian MIPS, o32"
#endif


static_assert(sizeof(struct stat64) == 160, "struct stat64: 160 bytes, all written by lstat64");
FIELD_AT(struct stat64, st_dev, 0, 4);
FIELD_AT(struct stat64, st_ino, 16, 8);
FIELD_AT(struct stat64, st_mode, 24, 4);
FIELD_AT(struct stat64, st_size, 56, 8);
FIELD_AT(struct stat64, st_mtime, 72, 4);
FIELD_AT(struct stat64, st_ctime, 80, 4);
FIELD_AT(struct stat64, st_ctim.tv_nsec, 84, 4);

static_assert(sizeof(struct dirent) == 268, "struct dirent: 268 bytes");
FIELD_AT(struct dirent, d_ino, 0, 4);
FIELD_AT(struct dirent, d_type, 10, 1);
FIELD_AT(struct dirent, d_name, 11, 256);

static_assert(os::O_READONLY == 0, "open() flag os::O_READONLY is 0");
static_assert(os::O_WRITEONLY == 1, "open() flag os::O_WRITEONLY is 1");
static_assert(os::O_NONBLOCKING == 0x80, "open() flag os::O_NONBLOCKING is 0x80");
static_assert(os::O_NO_CTTY == 0x800, "open() flag os::O_NO_CTTY is 0x800");
static_assert(os::LOCALE_NUMERIC == 1, "setlocale() category os::LOCALE_NUMERIC is 1");
static_assert(os::DL_LAZY_GLOBAL == 5, "dlopen() flags os::DL_LAZY_GLOBAL are lazy 1 | global 4");
