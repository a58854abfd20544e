/* Link-only stand-in for the recorder's C library ("libc.so.0"). It names the C library
   functions the module may call (host/os_calls.h); their types do not matter to the
   linker, and nothing here ever runs. A module that calls anything else links all the
   same, but the ELF check in tests/elf rejects it, since the recorder's library may not
   have it. */
#include "host/os_calls.h"

#define QUARROW_STUB(name) \
  void name(void);         \
  void name(void) {}
#define QUARROW_STUB_CALL(result, name, params) QUARROW_STUB(name)

QUARROW_OS_C_CALLS(QUARROW_STUB_CALL)
QUARROW_C_HELPERS(QUARROW_STUB)
