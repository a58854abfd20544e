#include <gtest/gtest.h>

#include <dlfcn.h>

#include "host/fis.h"
#include "sim/sim.h"

// Exported by this test executable, so that a look-up in the running program finds it.
extern "C" {
__attribute__((visibility("default"))) int quarrowFisProbe = 42;
}

namespace {

using sim::Call;
uint64_t opens() { return sim::calls(Call::dlopen); }  // of the running program
uint64_t lookups() { return sim::calls(Call::dlsym); }  // on the handle it gave
uint64_t closes() { return sim::calls(Call::dlclose); }

void *realAddress(const char *name) { return dlsym(RTLD_DEFAULT, name); }

struct Firmware {
  const char *symbol;
  void *(*function)();
};
constexpr Firmware kLookups[] = {
    {"_osdInfo", FIS_vOsdMap},
    {"_tapTask", FIS_vTAPTable},
    {"_curTapTask", FIS_vCurTapTask},
};

}  // namespace

TEST(TryResolve, FindsSymbolsOfTheRunningProgramAndClosesTheHandle) {
  EXPECT_EQ(TryResolve("quarrowFisProbe"), &quarrowFisProbe);
  EXPECT_EQ(TryResolve("quarrow_no_such_symbol_anywhere"), nullptr);
  EXPECT_EQ(TryResolve(nullptr), nullptr);
  EXPECT_EQ(opens(), 2u);
  EXPECT_EQ(lookups(), 2u);
  EXPECT_EQ(closes(), 2u);  // closed on success and on failure
}

TEST(TryResolve, LoaderUnavailableGivesNull) {
  sim::fault(Call::dlopen).always();
  EXPECT_EQ(TryResolve("quarrowFisProbe"), nullptr);
  EXPECT_EQ(opens(), 1u);
  EXPECT_EQ(lookups(), 0u);
  EXPECT_EQ(closes(), 0u);
}

TEST(FirmwareLookups, FoundOnceThenServedFromTheCache) {
  for (const Firmware &l : kLookups) {
    SCOPED_TRACE(l.symbol);
    void *expected = realAddress(l.symbol);
    ASSERT_NE(expected, nullptr) << "the simulator exports " << l.symbol;
    const uint64_t before = opens();
    EXPECT_EQ(l.function(), expected);
    EXPECT_EQ(opens(), before + 1);
    EXPECT_EQ(l.function(), expected);
    EXPECT_EQ(opens(), before + 1) << "a found address is not looked up again";
  }
}

TEST(FirmwareLookups, FailedLookupIsTriedAgainOnTheNextCall) {
  for (bool openFails : {true, false}) {
    for (const Firmware &l : kLookups) {
      SCOPED_TRACE(l.symbol);
      // Either the loader does not open, or the symbol is missing (by its name).
      if (openFails)
        sim::fault(Call::dlopen).always();
      else
        sim::fault(Call::dlsym).always().on(l.symbol);
      const uint64_t before = opens();
      EXPECT_EQ(l.function(), nullptr);
      EXPECT_EQ(l.function(), nullptr);
      EXPECT_EQ(opens(), before + 2);
      sim::clear_faults();
    }
  }
  EXPECT_EQ(closes(), 6u) << "closed after the failed look-ups, never after a failed open";
  for (const Firmware &l : kLookups) {
    const uint64_t before = opens();
    EXPECT_EQ(l.function(), realAddress(l.symbol)) << l.symbol;
    EXPECT_EQ(opens(), before + 1);
  }
  EXPECT_EQ(closes(), 9u) << "every handle opened is closed";
}

TEST(FirmwareLookups, SymbolWithNullValueCountsAsMissing) {
  sim::fault(Call::dlsym).returns(0);  // null, and no error pending
  EXPECT_EQ(FIS_vTAPTable(), nullptr);
  EXPECT_EQ(opens(), 1u);
  EXPECT_EQ(FIS_vTAPTable(), realAddress("_tapTask"));
  EXPECT_EQ(opens(), 2u) << "a null value is not cached";
}
