// libtap.so outside the simulator: every call reports that the module is not running in
// tapsim (whose own TAP_ objects are found first) and stops.
#include <cstdio>
#include <cstdlib>

#include "host/tap.h"

namespace {

[[noreturn]] void not_in_simulator(const char *name) {
  std::fprintf(stderr, "libtap.so: %s called outside the simulated recorder\n", name);
  std::_Exit(125);
}

}  // namespace

#define QUARROW_LIBTAP_STUB(result, name, params) \
  result(*name) params = reinterpret_cast<result(*) params>(+[] { not_in_simulator(#name); });
extern "C" {
QUARROW_TAP_API_TABLE(QUARROW_LIBTAP_STUB)
}
#undef QUARROW_LIBTAP_STUB
