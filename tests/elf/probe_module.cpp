// A minimal module with the frame the recorder expects, built by elf_tests with the
// cross compiler to show that the ELF checks accept a sound file and reject each kind
// of fault. Variants are chosen with -D flags.
#include <cstdint>
#include <cstring>

#include "host/tap.h"

// extern: a const object would otherwise stay local to this file and not be exported.
#define PROBE_SECTION(name) extern __attribute__((section(name), used))

extern "C" {

PROBE_SECTION("._tap_header")
const uint8_t __tap_Header__[32] = {'T', 'F', 'A', 'P', 'M', 'I', 'P', 'S', 16};
PROBE_SECTION("._tap_id") const uint32_t __tap_ud__ = 0x0BADF00D;
#ifdef PROBE_SHORT_NAME
PROBE_SECTION("._tap_program_name") const char __tap_program_name__[32] = "Quarrow V2.0";
#else
PROBE_SECTION("._tap_program_name") const char __tap_program_name__[64] = "Quarrow V2.0";
#endif
PROBE_SECTION("._tap_program_version") const char __tap_program_version__[64] = "V2.0";
#ifdef PROBE_WRONG_AUTHOR
PROBE_SECTION("._tap_author_name") const char __tap_author_name__[64] = "Somebody";
#else
PROBE_SECTION("._tap_author_name") const char __tap_author_name__[64] = "Tamorbel";
#endif
PROBE_SECTION("._tap_description") const char __tap_description__[128] = "Move Quarrow files into DataFiles";
PROBE_SECTION("._tap_etcinfo") const char __tap_etc_str__[64] = "Dec 8 2026";

#ifdef PROBE_EXTRA_IMPORT
int puts(const char *text);
#endif

int TAP_Main(void) {
#ifdef PROBE_EXTRA_IMPORT
  puts("hello");
#endif
#ifdef PROBE_PUT_GD
  TAP_Osd_PutGd(1, 0, 0, nullptr, 0);
#endif
#ifdef PROBE_CXX_RUNTIME
  int *volatile cell = new int(1);  // pulls in the C++ runtime
  delete cell;
#endif
  return 1;
}

uint32_t TAP_EventHandler(uint16_t event, uint32_t param1, uint32_t) {
  if (event == EVT_KEY) TAP_Print("key %u %u\n", param1, static_cast<unsigned>(strlen(__tap_program_name__)));
  return param1;
}

int __TAP_Init_(TAP_EntryRecord *record) {
  record->main = TAP_Main;
  record->eventHandler = TAP_EventHandler;
  return 0;
}

void _init(void) {}
void _finit(void) {}

#ifdef PROBE_CONSTRUCTOR
static uint32_t ProbeStarts;
__attribute__((constructor)) static void ProbeStart(void) { ++ProbeStarts; }
uint32_t probe_starts(void) { return ProbeStarts; }
#endif

#ifdef PROBE_EXTRA_EXPORT
int probe_helper(void) { return 42; }
#endif

#ifdef PROBE_TEXTREL
// An absolute address stored in the code: the loader would have to patch the text.
__asm__(".text\n.word TAP_Main\n.previous");
#endif

}  // extern "C"
