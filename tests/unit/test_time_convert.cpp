// Time stamps: seconds since 1970 against SYSTEMTIME, both ways. The C
// library's gmtime serves as the independent calendar; FILETIME is met in
// the runner's tests of times.
#include <gtest/gtest.h>
#include <time.h>

#include <cstring>
#include <string>

#include "archive/archive.h"

SystemTime calendar(int year, int month, int day, int hour, int minute, int second) {
  return {uint16_t(year),   uint16_t(month),  0, uint16_t(day), uint16_t(hour),
          uint16_t(minute), uint16_t(second), 0};
}

// The calendar of seconds against gmtime, and the way back.
void expect_calendar_and_back(uint32_t seconds) {
  time_t unix_time = time_t(seconds);
  struct tm tm;
  gmtime_r(&unix_time, &tm);
  SystemTime expected =
      calendar(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  expected.wDayOfWeek = uint16_t(tm.tm_wday);
  SystemTime mine;
  ASSERT_EQ(seconds_to_systemtime(seconds, &mine), 1);
  EXPECT_EQ(std::memcmp(&mine, &expected, sizeof mine), 0) << seconds;
  int32_t back = 0;
  ASSERT_EQ(systemtime_to_seconds(&mine, &back), 1) << seconds;
  EXPECT_EQ(uint32_t(back), seconds);
}

TEST(TimeConvert, CalendarAgreesWithGmtimeAtTheEdgesAndOverTheWholeRange) {
  // Every 9,999,991 seconds (a prime, so every time of day comes up), and
  // the last and first second of every year.
  for (uint64_t s = 0; s <= 0xFFFFFFFFu; s += 9999991) expect_calendar_and_back(uint32_t(s));
  for (int year = 1971; year <= 2106; ++year) {
    struct tm tm = {};
    tm.tm_year = year - 1900;
    tm.tm_mday = 1;
    int64_t first = timegm(&tm);
    expect_calendar_and_back(uint32_t(first - 1));
    expect_calendar_and_back(uint32_t(first));
  }
}

TEST(TimeConvert, SystemtimeOutsideTheRangeIsRefusedAndChangesNothing) {
  const SystemTime refused[] = {
      calendar(1967, 12, 31, 23, 59, 59), calendar(2106, 2, 7, 6, 28, 16),
      calendar(2000, 13, 1, 0, 0, 0),     calendar(2100, 2, 29, 0, 0, 0),
      calendar(2000, 4, 31, 0, 0, 0),     calendar(2000, 1, 1, 24, 0, 0),
  };
  for (const SystemTime& t : refused) {
    int32_t out = 12345;
    EXPECT_EQ(systemtime_to_seconds(&t, &out), 0) << t.wYear << "-" << t.wMonth << "-" << t.wDay;
    EXPECT_EQ(out, 12345);
  }
  // Dates of 1968 and 1969 are negative.
  const SystemTime y1968 = calendar(1968, 1, 1, 0, 0, 0);
  int32_t out = 0;
  ASSERT_EQ(systemtime_to_seconds(&y1968, &out), 1);
  EXPECT_EQ(out, -63158400);
}
