// The module frame: header objects, entry registration and the runtime hooks.
#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>

#include "host/frame.h"
#include "sim/sim.h"

// The frame registers these two; the test only needs their addresses.
extern "C" int TAP_Main(void) { return 1; }
extern "C" uint32_t TAP_EventHandler(uint16_t, uint32_t param1, uint32_t) { return param1; }

namespace {

// The text field holds `text` and nothing but zero bytes after it.
void ExpectField(const char *field, size_t size, const char *text) {
  EXPECT_STREQ(field, text);
  for (size_t i = std::strlen(text); i < size; ++i) ASSERT_EQ(field[i], '\0') << "byte " << i;
}

TEST(FrameHeader, ObjectsAreByteExact) {
  static_assert(sizeof(__tap_Header__) == 32);
  EXPECT_EQ(std::memcmp(__tap_Header__, "TFAPMIPS", 8), 0);
  EXPECT_EQ(__tap_Header__[8], 16);
  for (int i = 9; i < 32; ++i) EXPECT_EQ(__tap_Header__[i], 0) << "byte " << i;
  EXPECT_NE(__tap_ud__, 0u);
  ExpectField(__tap_program_name__, sizeof __tap_program_name__, "Quarrow V2.0");
  ExpectField(__tap_program_version__, sizeof __tap_program_version__, "V2.0");
  ExpectField(__tap_author_name__, sizeof __tap_author_name__, "Tamorbel");
  ExpectField(__tap_description__, sizeof __tap_description__, "Move Quarrow files into DataFiles");
}

TEST(FrameHeader, BuildDateHasSingleBlanks) {
  std::string date = __tap_etc_str__;
  EXPECT_TRUE(std::regex_match(date, std::regex("(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) [1-9][0-9]? [0-9]{4}")))
      << date;
  ExpectField(__tap_etc_str__, sizeof __tap_etc_str__, date.c_str());
}

TEST(FrameEntry, InitFillsTheEntryRecord) {
  TAP_EntryRecord record{nullptr, nullptr};
  EXPECT_EQ(__TAP_Init_(&record), 0);
  EXPECT_EQ(record.main, &TAP_Main);
  EXPECT_EQ(record.eventHandler, &TAP_EventHandler);
}

TEST(FrameRuntime, BuiltinNewPrintsAndAllocatesThroughTheHost) {
  sim::reset();
  void *p = __builtin_new(24);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(sim::outstanding_blocks(), 1);
  void *q = __builtin_new(0);
  EXPECT_NE(sim::console_text().find("__builtin_new. size=24\n"), std::string::npos);
  EXPECT_NE(sim::console_text().find("__builtin_new. size=0\n"), std::string::npos);
  TAP_MemFree(p);
  if (q) TAP_MemFree(q);
  EXPECT_EQ(sim::outstanding_blocks(), 0);
}

TEST(FrameRuntime, BuiltinNewPassesAllocationFailureOn) {
  sim::reset();
  sim::fault(sim::Call::TAP_MemAlloc).nth(1);
  EXPECT_EQ(__builtin_new(100), nullptr);
  EXPECT_NE(sim::console_text().find("__builtin_new. size=100\n"), std::string::npos);
}

TEST(FrameRuntime, AbortSleepsForever) {
  sim::reset();
  // Only the simulator's guard against an endless sleep ends it.
  EXPECT_DEATH(abort(), "TAP_Sleep\\(1000\\) called 100000 times without any other call");
}

}  // namespace
