// Operating-system calls that module code makes directly, besides the plug-in API.
//
// The recorder's C library ("libc.so.0") exports only the plain C names, so nothing
// here may resolve to a private alias of the build machine's C library. The stdio
// calls are therefore declared here with an opaque file type and bound to their
// plain symbol names; module code never includes <stdio.h> (whose sscanf is
// redirected to a private name in C++).
#pragma once

#include <dirent.h>    // DIR, struct dirent, opendir, readdir, closedir
#include <dlfcn.h>     // dlopen, dlsym, dlerror, dlclose
#include <sys/stat.h>  // struct stat64, lstat64
#include <sys/types.h>

// Whatever opendir, open, fopen or dlopen give, the caller closes with closedir, close,
// fclose or dlclose on every way out.
extern "C" {
int system(const char *command);
int rename(const char *from, const char *to);  // replaces an existing `to`: check first
int open(const char *path, int flags, ...);
ssize_t write(int fd, const void *buffer, size_t count);
int close(int fd);
}

namespace os {

// Flag values as the recorder's C library defines them.
enum : int {
  O_READWRITE = 2,          // open(): read and write
  LOCALE_NUMERIC = 1,       // setlocale(): the numeric category
  DL_LAZY_GLOBAL = 5,       // dlopen(): lazy binding, symbols global
};

struct File;  // the C library's FILE, never looked into

File *fopen(const char *path, const char *mode) __asm__("fopen");
char *fgets(char *buffer, int size, File *file) __asm__("fgets");
int fclose(File *file) __asm__("fclose");
int sscanf(const char *text, const char *format, ...) __asm__("sscanf");
char *setlocale(int category, const char *locale) __asm__("setlocale");
int toupper(int c) __asm__("toupper");
int tolower(int c) __asm__("tolower");

}  // namespace os
