// libtap.so: the library a module's dynamic section names, "/tapapi/TMS/libtap.so" (its
// soname). It defines nothing of the plug-in API: the executable that loads the module
// (tapsim) exports the TAP_ objects, the firmware tables and the OS call mapping, and the
// loader binds the module to those. A definition here would be initialised at load time
// through the executable's symbol and overwrite the real pointers.
extern "C" {
__attribute__((visibility("default"))) extern const char quarrow_libtap_marker[];
const char quarrow_libtap_marker[] = "simulated recorder libtap";
}
