#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "lib/time/timeutil.h"
#include "sim/sim.h"
#include "tests/common/sim_disk.h"

namespace {

class Time : public SimDiskTest {
 protected:
  Time() : SimDiskTest("quarrow-time-") {}
  static uint32_t word(int year, int month, int day, int hour, int minute) {
    return (uint32_t{sim::date_to_mjd(year, month, day)} << 16) | (uint32_t(hour) << 8) | uint32_t(minute);
  }
};

uint32_t uptimeOf(const std::string &text) {
  sim::set_uptime_text(text);
  return GetUptime();
}

TEST_F(Time, UptimeIsTruncatedHundredths) {
  EXPECT_EQ(uptimeOf("35.27 120.50\n"), 3527u);
  EXPECT_EQ(uptimeOf("0.29 0.01\n"), 28u);  // 28.999... is not rounded up
  EXPECT_EQ(uptimeOf("600.00 1.00\n"), 60000u);
  EXPECT_EQ(uptimeOf("0.00 0.00\n"), 0u);
}

TEST_F(Time, UptimeFromTwoToThe31OnIsNotNegative) {
  EXPECT_EQ(uptimeOf("21474836.48 1.00\n"), 2147483648u);
  EXPECT_EQ(uptimeOf("30000000.00 1.00\n"), 3000000000u);
  EXPECT_EQ(uptimeOf("21474836.47 1.00\n"), 2147483647u);
}

TEST_F(Time, UptimeBeyondThe32BitRangeSaturates) {
  EXPECT_EQ(uptimeOf("42949672.96 1.00\n"), 0xFFFFFFFFu);
  EXPECT_EQ(uptimeOf("99999999999.00 1.00\n"), 0xFFFFFFFFu);
  EXPECT_EQ(uptimeOf("inf 1.00\n"), 0xFFFFFFFFu);
}

TEST_F(Time, UnreadableUptimeGivesZero) {
  EXPECT_EQ(uptimeOf(""), 0u);  // cannot be opened
  EXPECT_EQ(uptimeOf("\n"), 0u);
  EXPECT_EQ(uptimeOf("up 35.27\n"), 0u);
  EXPECT_EQ(uptimeOf("-12.00 1.00\n"), 0u);
  EXPECT_EQ(uptimeOf("nan 1.00\n"), 0u);
}

TEST_F(Time, NowPacksTheRecordersClock) {
  sim::set_clock(2026, 12, 7, 13, 45, 31);
  uint8_t seconds = 0xEE;
  uint32_t now = Now(&seconds);
  EXPECT_EQ(now, word(2026, 12, 7, 13, 45));
  EXPECT_EQ(seconds, 31);
  EXPECT_EQ(Now(nullptr) & 0xFFFFFF00u, now & 0xFFFFFF00u);
}

TEST_F(Time, SixLayouts) {
  uint32_t w = word(2023, 6, 15, 14, 5);
  EXPECT_STREQ(TimeFormat(w, 9, 1), "14:05");
  EXPECT_STREQ(TimeFormat(w, 9, 2), "14:05:09");
  EXPECT_STREQ(TimeFormat(w, 9, 3), "2023-06-15");  // the year keeps all its digits
  EXPECT_STREQ(TimeFormat(w, 9, 4), "2023-06-15 14:05");
  EXPECT_STREQ(TimeFormat(w, 9, 5), "2023-06-15 14:05:09");
  EXPECT_STREQ(TimeFormat(w, 9, 6), "20230615_1405");
  EXPECT_EQ(TimeFormat(w, 9, 6), sTimeStamp);
}

TEST_F(Time, OtherTypesGiveTheEmptyString) {
  uint32_t w = word(2023, 6, 15, 14, 5);
  for (uint32_t type : {0u, 7u, 0xFFFFFFFFu}) {
    TimeFormat(w, 9, 5);
    EXPECT_STREQ(TimeFormat(w, 9, type), "") << type;
  }
}

TEST_F(Time, WordWithoutDatePrintsZeroDateAndTheTime) {
  uint32_t w = (5u << 8) | 10u;
  EXPECT_STREQ(TimeFormat(w, 9, 2), "05:10:09");
  EXPECT_STREQ(TimeFormat(w, 9, 5), "0000-00-00 05:10:09");
}

TEST_F(Time, OnlyTheLowByteOfSecondsCounts) {
  EXPECT_STREQ(TimeFormat(word(2023, 6, 15, 14, 5), 265, 2), "14:05:09");
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
