// Entry points and runtime hooks that the recorder's firmware calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/tap.h"

extern "C" {
// Puts TAP_Main and TAP_EventHandler into the host's record (nothing for null); returns 0.
int __TAP_Init_(TAP_EntryRecord *record);
// `size` bytes from the host allocator (the size printed to the terminal), or null;
// the caller frees them with TAP_MemFree.
void *__builtin_new(size_t size);
// Initialisation and finalisation entries: nothing to do.
void _init(void);
void _finit(void);

// Start: schedules the scan and the intake check by the uptime, creates the settings folder
// and reads the settings. Returns 1: the module stays resident.
int TAP_Main(void);
// Idle events run the due checks; OK or Exit while the message box shows acknowledges it
// and returns 0 (key consumed). Every other event returns param1.
uint32_t TAP_EventHandler(uint16_t event, uint32_t param1, uint32_t param2);

// Header objects, one per named section.
extern const uint8_t __tap_Header__[32];
extern const uint32_t __tap_ud__;
extern const char __tap_program_name__[64];
extern const char __tap_program_version__[64];
extern const char __tap_author_name__[64];
extern const char __tap_description__[128];
extern const char __tap_etc_str__[64];
}
