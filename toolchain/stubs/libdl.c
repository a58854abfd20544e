/* Link-only stand-in for the recorder's loader library ("libdl.so.0"). */
#define QUARROW_STUB(name) \
  void name(void);         \
  void name(void) {}

QUARROW_STUB(dlopen)
QUARROW_STUB(dlsym)
QUARROW_STUB(dlerror)
QUARROW_STUB(dlclose)
