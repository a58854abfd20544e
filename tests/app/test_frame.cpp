// The module frame: entry registration and the runtime hooks (its header objects are
// checked in the built file, tests/e2e/test_module_file.cpp).
#include <gtest/gtest.h>

#include <string>

#include "host/frame.h"
#include "sim/sim.h"

// The frame registers these two; the test only needs their addresses.
extern "C" int TAP_Main(void) { return 1; }
extern "C" uint32_t TAP_EventHandler(uint16_t, uint32_t param1, uint32_t) { return param1; }

namespace {

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
