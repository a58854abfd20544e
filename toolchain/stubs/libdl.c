/* Link-only stand-in for the recorder's loader library ("libdl.so.0"). */
#include "host/os_calls.h"

#define QUARROW_STUB_CALL(result, name, params) \
  void name(void);                              \
  void name(void) {}

QUARROW_OS_DL_CALLS(QUARROW_STUB_CALL)
