/* The C library and loader functions that module code calls directly, besides the
   plug-in API. Each is named once here; from these lists follow their declarations
   (host/os.h), the recorder build's link stubs (toolchain/stubs), the imports that
   quarrow.tap may have (tests/elf) and the simulator's stand-ins with their fault seam
   (sim/). Plain macros, so that the C stubs include this file too.

   QUARROW_OS_C_CALLS(OS) and QUARROW_OS_DL_CALLS(OS): OS(result, name, params) for each
   call into the operating system, from the C library ("libc.so.0") and from the loader
   ("libdl.so.0"). A new call is one line here and its stand-in in sim/os.cpp.
   QUARROW_C_HELPERS(NAME): NAME(name) for each pure function of the C library (memory,
   strings, character classes, number parsing); they touch no file, so the simulator
   leaves them to the build machine's library. */
#ifndef QUARROW_HOST_OS_CALLS_H
#define QUARROW_HOST_OS_CALLS_H

#define QUARROW_OS_C_CALLS(OS)                                 \
  OS(DIR *, opendir, (const char *path))                       \
  OS(struct dirent *, readdir, (DIR * dir))                    \
  OS(int, closedir, (DIR * dir))                               \
  OS(int, lstat64, (const char *path, struct stat64 *st))      \
  OS(int, rename, (const char *from, const char *to))          \
  OS(int, system, (const char *command))                       \
  OS(int, open, (const char *path, int flags, ...))            \
  OS(ssize_t, write, (int fd, const void *buffer, size_t size)) \
  OS(int, fsync, (int fd))                                     \
  OS(int, close, (int fd))                                     \
  OS(File *, fopen, (const char *path, const char *mode))      \
  OS(char *, fgets, (char *buffer, int size, File *file))      \
  OS(int, fclose, (File * file))

#define QUARROW_OS_DL_CALLS(OS)                   \
  OS(void *, dlopen, (const char *file, int flags)) \
  OS(void *, dlsym, (void *handle, const char *name)) \
  OS(char *, dlerror, (void))                     \
  OS(int, dlclose, (void *handle))

#define QUARROW_OS_CALL_TABLE(OS) QUARROW_OS_C_CALLS(OS) QUARROW_OS_DL_CALLS(OS)

#define QUARROW_C_HELPERS(NAME)                                                              \
  NAME(sscanf) NAME(setlocale)                                                               \
  NAME(memcpy) NAME(memmove) NAME(memset) NAME(memcmp) NAME(memchr)                          \
  NAME(strlen) NAME(strnlen) NAME(strcmp) NAME(strncmp) NAME(strcasecmp) NAME(strncasecmp)   \
  NAME(strcpy) NAME(strncpy) NAME(strcat) NAME(strncat) NAME(strchr) NAME(strrchr)           \
  NAME(strstr) NAME(strpbrk) NAME(strspn) NAME(strcspn) NAME(strtol) NAME(strtoul) NAME(atoi) \
  NAME(isalnum) NAME(isalpha) NAME(isdigit) NAME(islower) NAME(isprint) NAME(isspace)        \
  NAME(isupper) NAME(isxdigit) NAME(tolower) NAME(toupper)

#endif
