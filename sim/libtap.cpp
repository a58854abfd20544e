// libtap.so: the library a module's dynamic section names, "/tapapi/TMS/libtap.so" (its
// soname). The executable that loads the module (tapsim) exports the working TAP_ objects,
// the firmware tables and the OS call mapping, and comes first in the loader's search.
// The objects here exist so that a module links against this library and keeps it in its
// dynamic section; they are null and statically initialised, so loading this library never
// writes through a symbol that the executable's definition interposes.
#include "host/tap.h"

#define QUARROW_LIBTAP_OBJECT(result, name, params) result(*name) params = nullptr;
extern "C" {
QUARROW_TAP_API_TABLE(QUARROW_LIBTAP_OBJECT)
}
#undef QUARROW_LIBTAP_OBJECT
