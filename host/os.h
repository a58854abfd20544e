// Operating-system calls that module code makes directly, besides the plug-in API, as
// declared from their one list (host/os_calls.h), and the flag values they take.
//
// The recorder's C library ("libc.so.0") exports only the plain C names, so nothing
// here may resolve to a private alias of the build machine's C library: every call is
// declared in namespace os and bound to its plain symbol name. Module code calls them
// as os::NAME and never includes <stdio.h>, <fcntl.h> or <dlfcn.h> (whose declarations
// may be redirected to private names). The build machine's headers give only the record
// types (DIR, struct dirent, struct stat64).
#pragma once

#include <dirent.h>    // DIR, struct dirent
#include <sys/stat.h>  // struct stat64, S_IS*
#include <sys/types.h>

#include "host/os_calls.h"

namespace os {

struct File;  // the C library's FILE, never looked into

// Whatever opendir, open, fopen or dlopen give, the caller closes with closedir, close,
// fclose or dlclose on every way out. rename replaces an existing `to`: check first.
#define QUARROW_DECLARE_OS_CALL(result, name, params) result name params __asm__(#name);
QUARROW_OS_CALL_TABLE(QUARROW_DECLARE_OS_CALL)
int sscanf(const char *text, const char *format, ...) __asm__("sscanf");
char *setlocale(int category, const char *locale) __asm__("setlocale");
int toupper(int c) __asm__("toupper");
int tolower(int c) __asm__("tolower");
#undef QUARROW_DECLARE_OS_CALL

// Flag values as the recorder's C library defines them (MIPS Linux; some differ from a
// PC's). The simulator takes them in these values on every build machine.
enum : int {
  O_READONLY = 0,        // open(): read only (also how a folder is opened to sync it)
  O_WRITEONLY = 1,       // open(): write only
  O_NONBLOCKING = 0x80,  // open(): no call on the descriptor waits
  O_NO_CTTY = 0x800,     // open(): a terminal never becomes the controlling one
  LOCALE_NUMERIC = 1,    // setlocale(): the numeric category
  DL_LAZY_GLOBAL = 5,    // dlopen(): lazy binding, symbols global
};

}  // namespace os
