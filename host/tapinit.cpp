// The module frame: the header the recorder reads before running anything, the entry
// registration, and the runtime hooks that keep a fatal stop and object allocation
// inside the host's services.
#include <cstddef>
#include <cstdint>

#include "host/frame.h"
#include "host/tap.h"

namespace {

constexpr size_t kEtcSize = 64;

struct EtcText {
  char text[kEtcSize];
};

// The compiler's build date ("Dec  8 2026") with runs of blanks made single ("Dec 8 2026").
constexpr EtcText NormalisedBuildDate(const char *date) {
  EtcText out{};
  size_t n = 0;
  bool blank = false;
  for (size_t i = 0; date[i] != '\0' && n < kEtcSize - 1; ++i) {
    if (date[i] == ' ') {
      blank = n > 0;
      continue;
    }
    if (blank) {
      out.text[n++] = ' ';
      blank = false;
      if (n >= kEtcSize - 1) break;
    }
    out.text[n++] = date[i];
  }
  return out;
}

constexpr EtcText kBuildDate = NormalisedBuildDate(__DATE__);
static_assert(kBuildDate.text[3] == ' ' && kBuildDate.text[4] != ' ', "single blank after the month");

}  // namespace

#define QUARROW_SECTION(name) __attribute__((section(name), used))

extern "C" {

QUARROW_SECTION("._tap_header")
const uint8_t __tap_Header__[32] = {'T', 'F', 'A', 'P', 'M', 'I', 'P', 'S', 16, 0, 0, 0};

// Fixed identifier of this module.
QUARROW_SECTION("._tap_id") const uint32_t __tap_ud__ = 0x2A51C0DE;

QUARROW_SECTION("._tap_program_name") const char __tap_program_name__[64] = "Quarrow V2.0";
QUARROW_SECTION("._tap_program_version") const char __tap_program_version__[64] = "V2.0";
QUARROW_SECTION("._tap_author_name") const char __tap_author_name__[64] = "Tamorbel";
QUARROW_SECTION("._tap_description")
const char __tap_description__[128] = "Move Quarrow files into DataFiles";

#define QUARROW_E(i) kBuildDate.text[i]
#define QUARROW_E4(i) QUARROW_E(i), QUARROW_E(i + 1), QUARROW_E(i + 2), QUARROW_E(i + 3)
#define QUARROW_E16(i) QUARROW_E4(i), QUARROW_E4(i + 4), QUARROW_E4(i + 8), QUARROW_E4(i + 12)
QUARROW_SECTION("._tap_etcinfo")
const char __tap_etc_str__[64] = {QUARROW_E16(0), QUARROW_E16(16), QUARROW_E16(32), QUARROW_E16(48)};
#undef QUARROW_E16
#undef QUARROW_E4
#undef QUARROW_E

static_assert(sizeof(__tap_Header__) == 32 && sizeof(__tap_ud__) == 4 && sizeof(__tap_program_name__) == 64 &&
                  sizeof(__tap_program_version__) == 64 && sizeof(__tap_author_name__) == 64 &&
                  sizeof(__tap_description__) == 128 && sizeof(__tap_etc_str__) == 64,
              "header objects have the sizes the recorder reads");

int __TAP_Init_(TAP_EntryRecord *record) {
  if (record) {
    record->main = TAP_Main;
    record->eventHandler = TAP_EventHandler;
  }
  return 0;
}

// A fatal stop puts the module to sleep for good; the recorder itself carries on.
[[noreturn]] void abort(void) noexcept {
  for (;;) TAP_Sleep(1000);
}

void *__builtin_new(size_t size) {
  TAP_Print("__builtin_new. size=%d\n", static_cast<int>(size));
  return TAP_MemAlloc(static_cast<uint32_t>(size));
}

// Registered as the shared object's initialisation entry; there is nothing to do.
void _init(void) {}
void _finit(void) {}

}  // extern "C"
