// The 64-bit division helpers linked into quarrow.tap (toolchain/rt/divdi3.c), built
// here under other names and compared with the compiler's own division.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <random>
#include <vector>

extern "C" {
unsigned long long quarrow_test___udivdi3(unsigned long long n, unsigned long long d);
unsigned long long quarrow_test___umoddi3(unsigned long long n, unsigned long long d);
long long quarrow_test___divdi3(long long n, long long d);
long long quarrow_test___moddi3(long long n, long long d);
}

namespace {

std::vector<uint64_t> Values() {
  std::vector<uint64_t> v = {0, 1, 2, 3, 7, 10, 0xFFFF, 0x10000, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF,
                             0x100000000ull, 0x100000001ull, 0x123456789ull, 0xFFFFFFFFFFull,
                             0x7FFFFFFFFFFFFFFFull, 0x8000000000000000ull, 0x8000000000000001ull,
                             0xFFFFFFFFFFFFFFFEull, 0xFFFFFFFFFFFFFFFFull};
  std::mt19937_64 random(20261208);
  for (int i = 0; i < 300; ++i) {
    const uint64_t r = random();
    v.push_back(r >> (random() % 64));  // every magnitude
  }
  return v;
}

TEST(DivisionHelpers, UnsignedMatchesTheCompiler) {
  const auto values = Values();
  for (uint64_t n : values)
    for (uint64_t d : values) {
      if (d == 0) continue;
      ASSERT_EQ(quarrow_test___udivdi3(n, d), n / d) << n << " / " << d;
      ASSERT_EQ(quarrow_test___umoddi3(n, d), n % d) << n << " % " << d;
    }
}

TEST(DivisionHelpers, SignedTruncatesTowardZero) {
  const auto values = Values();
  for (uint64_t un : values)
    for (uint64_t ud : values) {
      for (int signs = 0; signs < 4; ++signs) {
        const int64_t n = (signs & 1) ? static_cast<int64_t>(0 - un) : static_cast<int64_t>(un);
        const int64_t d = (signs & 2) ? static_cast<int64_t>(0 - ud) : static_cast<int64_t>(ud);
        if (d == 0 || (n == std::numeric_limits<int64_t>::min() && d == -1)) continue;
        ASSERT_EQ(quarrow_test___divdi3(n, d), n / d) << n << " / " << d;
        ASSERT_EQ(quarrow_test___moddi3(n, d), n % d) << n << " % " << d;
      }
    }
}

TEST(DivisionHelpers, DivisionByZeroGivesADefinedResult) {
  // The module must never divide by zero; if it does, nothing traps.
  EXPECT_EQ(quarrow_test___udivdi3(12345, 0), 0u);
  EXPECT_EQ(quarrow_test___umoddi3(12345, 0), 12345u);
  EXPECT_EQ(quarrow_test___divdi3(-7, 0), 0);
  EXPECT_EQ(quarrow_test___moddi3(-7, 0), -7);
}

}  // namespace
