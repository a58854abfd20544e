#include <gtest/gtest.h>

#include <dlfcn.h>

#include "host/fis.h"

// Exported by this test executable, so that a look-up in the running program finds it.
extern "C" {
__attribute__((visibility("default"))) int quarrowFisProbe = 42;
}

namespace {

enum class Inject { None, OpenFails, SymbolMissing, SymbolIsNull };

Inject inject = Inject::None;
int opens = 0, handles = 0, lookups = 0, closes = 0;
int lastFlags = -1;
bool lastFileWasNull = false;
void *selfHandle = nullptr;  // only look-ups through this handle are counted and faked

}  // namespace

extern "C" {
void *__real_dlopen(const char *file, int flags);
void *__real_dlsym(void *handle, const char *name);
int __real_dlclose(void *handle);

void *__wrap_dlopen(const char *file, int flags) {
  ++opens;
  lastFlags = flags;
  lastFileWasNull = file == nullptr;
  if (inject == Inject::OpenFails) return nullptr;
  selfHandle = __real_dlopen(file, flags);
  if (selfHandle != nullptr) ++handles;
  return selfHandle;
}

void *__wrap_dlsym(void *handle, const char *name) {
  if (handle == nullptr || handle != selfHandle) return __real_dlsym(handle, name);
  ++lookups;
  if (inject == Inject::SymbolMissing) return __real_dlsym(handle, "quarrow_no_such_symbol_anywhere");
  if (inject == Inject::SymbolIsNull) return nullptr;  // found, value null: no error pending
  return __real_dlsym(handle, name);
}

int __wrap_dlclose(void *handle) {
  if (handle == selfHandle) ++closes;
  return __real_dlclose(handle);
}
}

namespace {

void *realAddress(const char *name) { return __real_dlsym(RTLD_DEFAULT, name); }

struct Lookup {
  const char *symbol;
  void *(*function)();
};
constexpr Lookup kLookups[] = {
    {"_osdInfo", FIS_vOsdMap},
    {"_tapTask", FIS_vTAPTable},
    {"_curTapTask", FIS_vCurTapTask},
};

}  // namespace

TEST(TryResolve, FindsSymbolsOfTheRunningProgramAndClosesTheHandle) {
  EXPECT_EQ(TryResolve("quarrowFisProbe"), &quarrowFisProbe);
  EXPECT_TRUE(lastFileWasNull);
  EXPECT_EQ(lastFlags, 5);
  EXPECT_EQ(TryResolve("quarrow_no_such_symbol_anywhere"), nullptr);
  EXPECT_EQ(TryResolve(nullptr), nullptr);
  EXPECT_EQ(opens, 2);
  EXPECT_EQ(closes, 2);  // closed on success and on failure
}

TEST(TryResolve, LoaderUnavailableGivesNull) {
  inject = Inject::OpenFails;
  EXPECT_EQ(TryResolve("quarrowFisProbe"), nullptr);
  EXPECT_EQ(lookups, 0);
  EXPECT_EQ(closes, 0);
}

TEST(FirmwareLookups, FoundOnceThenServedFromTheCache) {
  for (const Lookup &l : kLookups) {
    SCOPED_TRACE(l.symbol);
    void *expected = realAddress(l.symbol);
    ASSERT_NE(expected, nullptr) << "the simulator exports " << l.symbol;
    int before = opens;
    EXPECT_EQ(l.function(), expected);
    EXPECT_EQ(opens, before + 1);
    EXPECT_EQ(l.function(), expected);
    EXPECT_EQ(opens, before + 1) << "a found address is not looked up again";
  }
}

TEST(FirmwareLookups, FailedLookupIsTriedAgainOnTheNextCall) {
  for (Inject failure : {Inject::OpenFails, Inject::SymbolMissing}) {
    for (const Lookup &l : kLookups) {
      SCOPED_TRACE(l.symbol);
      inject = failure;
      int before = opens;
      EXPECT_EQ(l.function(), nullptr);
      EXPECT_EQ(l.function(), nullptr);
      EXPECT_EQ(opens, before + 2);
    }
  }
  inject = Inject::None;
  for (const Lookup &l : kLookups) {
    int before = opens;
    EXPECT_EQ(l.function(), realAddress(l.symbol)) << l.symbol;
    EXPECT_EQ(opens, before + 1);
  }
  EXPECT_EQ(closes, handles) << "every handle opened is closed";
}

TEST(FirmwareLookups, SymbolWithNullValueCountsAsMissing) {
  inject = Inject::SymbolIsNull;
  EXPECT_EQ(FIS_vTAPTable(), nullptr);
  EXPECT_EQ(opens, 1);
  inject = Inject::None;
  EXPECT_EQ(FIS_vTAPTable(), realAddress("_tapTask"));
  EXPECT_EQ(opens, 2) << "a null value is not cached";
}
