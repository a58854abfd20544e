// The uptime, the recorder's clock and the time stamp layouts.
#include <cstring>
#include <utility>

#include "lib/time/timeutil.h"
#include "tests/common/sim_disk.h"

namespace {

class Time : public SimDiskTest {
 protected:
  Time() : SimDiskTest("quarrow-time-") {}
  static uint32_t word(int year, int month, int day, int hour, int minute) {
    return (uint32_t{sim::date_to_mjd(year, month, day)} << 16) | (uint32_t(hour) << 8) | uint32_t(minute);
  }
};

TEST_F(Time, UptimeIsTruncatedHundredthsSaturatedAndZeroWhenUnreadable) {
  const std::pair<const char *, uint32_t> cases[] = {
      {"35.27 120.50\n", 3527u}, {"0.29 0.01\n", 28u},  // 28.999... is not rounded up
      {"600.00 1.00\n", 60000u}, {"0.00 0.00\n", 0u},
      // From 2^31 on not negative; beyond the 32-bit range saturated.
      {"21474836.48 1.00\n", 2147483648u}, {"30000000.00 1.00\n", 3000000000u},
      {"21474836.47 1.00\n", 2147483647u}, {"42949672.96 1.00\n", 0xFFFFFFFFu},
      {"99999999999.00 1.00\n", 0xFFFFFFFFu}, {"inf 1.00\n", 0xFFFFFFFFu},
      // Unreadable ("" cannot be opened) or not a number of seconds.
      {"", 0u}, {"\n", 0u}, {"up 35.27\n", 0u}, {"-12.00 1.00\n", 0u}, {"nan 1.00\n", 0u},
  };
  for (const auto &[text, hundredths] : cases) {
    sim::set_uptime_text(text);
    EXPECT_EQ(GetUptime(), hundredths) << text;
  }
  // The line is read into the host's memory, given back; without memory nothing is read.
  EXPECT_EQ(sim::outstanding_blocks(), 0);
  sim::set_uptime_text("35.27 120.50\n");
  sim::fault(sim::Call::TAP_MemAlloc).always();
  EXPECT_EQ(GetUptime(), 0u);
  sim::clear_faults();
  EXPECT_EQ(GetUptime(), 3527u);
}

TEST_F(Time, NowPacksTheRecordersClock) {
  sim::set_clock(2026, 12, 7, 13, 45, 31);
  uint8_t seconds = 0xEE;
  uint32_t now = Now(&seconds);
  EXPECT_EQ(now, word(2026, 12, 7, 13, 45));
  EXPECT_EQ(seconds, 31);
  EXPECT_EQ(Now(nullptr) & 0xFFFFFF00u, now & 0xFFFFFF00u);
}

TEST_F(Time, SixLayoutsAndNothingForOtherTypes) {
  const uint32_t w = word(2023, 6, 15, 14, 5), noDate = (5u << 8) | 10u;
  struct Case {
    uint32_t word, seconds, type;
    const char *text;
  };
  const Case cases[] = {
      {w, 9, 1, "14:05"}, {w, 9, 2, "14:05:09"}, {w, 9, 3, "2023-06-15"},  // the year keeps all its digits
      {w, 9, 4, "2023-06-15 14:05"}, {w, 9, 5, "2023-06-15 14:05:09"}, {w, 9, 6, "20230615_1405"},
      {w, 265, 2, "14:05:09"},  // only the low byte of the seconds counts
      {noDate, 9, 2, "05:10:09"}, {noDate, 9, 5, "0000-00-00 05:10:09"},
      {w, 9, 0, ""}, {w, 9, 7, ""}, {w, 9, 0xFFFFFFFFu, ""},
  };
  for (const Case &c : cases) {
    TimeFormat(w, 9, 5);  // the stamp holds text before each call
    EXPECT_STREQ(TimeFormat(c.word, c.seconds, c.type), c.text) << c.type;
  }
  EXPECT_EQ(TimeFormat(w, 9, 6), sTimeStamp);
}

TEST_F(Time, OutOfRangeValuesStayInsideTheStampWithRoomForASpace) {
  for (uint32_t type = 1; type <= 6; ++type) {
    char *stamp = TimeFormat(0xFFFFFFFFu, 0xFF, type);
    EXPECT_LE(strlen(stamp), sizeof sTimeStamp - 2) << type;
    // The time fields up to their cut are printed as they are.
    if (type == 2) {
      EXPECT_STREQ(stamp, "255:255:255");
    }
  }
}

}  // namespace
