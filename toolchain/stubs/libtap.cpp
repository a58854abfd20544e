// Link-only stand-in for the recorder's plug-in API library: one pointer object per
// API name, generated from the table the module itself is compiled against. Nothing
// runs from this file; on the recorder the firmware's own library takes its place.
#include "host/tap.h"

#define QUARROW_DEFINE_TAP_API(result, name, params) result(*name) params = nullptr;
extern "C" {
QUARROW_TAP_API_TABLE(QUARROW_DEFINE_TAP_API)
}
#undef QUARROW_DEFINE_TAP_API
