// Entry points and runtime hooks that the recorder's firmware calls.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/tap.h"

extern "C" {
int __TAP_Init_(TAP_EntryRecord *record);
void *__builtin_new(size_t size);
void _init(void);
void _finit(void);

int TAP_Main(void);
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
