/* Link-only stand-in for the recorder's C library ("libc.so.0"). It names the C library
   functions the module may call; their types do not matter to the linker, and nothing
   here ever runs. A module that calls anything else links all the same, but the ELF
   check in tests/elf rejects it, since the recorder's library may not have it. */
#define QUARROW_STUB(name) \
  void name(void);         \
  void name(void) {}

/* Directories, files, shell and terminal. */
QUARROW_STUB(opendir)
QUARROW_STUB(readdir)
QUARROW_STUB(closedir)
QUARROW_STUB(lstat64)
QUARROW_STUB(rename)
QUARROW_STUB(system)
QUARROW_STUB(open)
QUARROW_STUB(write)
QUARROW_STUB(close)
QUARROW_STUB(fopen)
QUARROW_STUB(fgets)
QUARROW_STUB(fclose)
QUARROW_STUB(sscanf)
QUARROW_STUB(setlocale)

/* Memory and strings (the compiler also emits memcpy, memmove and memset itself). */
QUARROW_STUB(memcpy)
QUARROW_STUB(memmove)
QUARROW_STUB(memset)
QUARROW_STUB(memcmp)
QUARROW_STUB(memchr)
QUARROW_STUB(strlen)
QUARROW_STUB(strcmp)
QUARROW_STUB(strncmp)
QUARROW_STUB(strcasecmp)
QUARROW_STUB(strncasecmp)
QUARROW_STUB(strcpy)
QUARROW_STUB(strncpy)
QUARROW_STUB(strcat)
QUARROW_STUB(strncat)
QUARROW_STUB(strchr)
QUARROW_STUB(strrchr)
QUARROW_STUB(strstr)
QUARROW_STUB(strnlen)
QUARROW_STUB(strpbrk)
QUARROW_STUB(strspn)
QUARROW_STUB(strcspn)
QUARROW_STUB(strtol)
QUARROW_STUB(strtoul)
QUARROW_STUB(atoi)

/* Character classes. */
QUARROW_STUB(isalnum)
QUARROW_STUB(isalpha)
QUARROW_STUB(isdigit)
QUARROW_STUB(islower)
QUARROW_STUB(isprint)
QUARROW_STUB(isspace)
QUARROW_STUB(isupper)
QUARROW_STUB(isxdigit)
QUARROW_STUB(tolower)
QUARROW_STUB(toupper)
