// Time stamps: seconds since 1970 against SYSTEMTIME and FILETIME, the
// "TZ" shift and the time of an existing file. The C library's gmtime
// serves as the independent calendar.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <tuple>

#include "archive/archive.h"
#include "platform/posix/posix_config.h"

constexpr int64_t epoch_ticks = 116444736000000000;  // 1970-01-01 as FILETIME

FileTime filetime_of(int64_t unix_seconds, int64_t extra_ticks = 0) {
  uint64_t ticks = uint64_t(unix_seconds * 10000000 + epoch_ticks + extra_ticks);
  return FileTime{uint32_t(ticks), uint32_t(ticks >> 32)};
}

SystemTime calendar(int year, int month, int day, int hour, int minute, int second) {
  return {uint16_t(year),   uint16_t(month),  0, uint16_t(day), uint16_t(hour),
          uint16_t(minute), uint16_t(second), 0};
}

auto fields(const SystemTime& t) {
  return std::make_tuple(t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wDayOfWeek,
                         t.wMilliseconds);
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
  EXPECT_EQ(fields(mine), fields(expected)) << seconds;
  int32_t back = 0;
  ASSERT_EQ(systemtime_to_seconds(&mine, &back), 1) << seconds;
  EXPECT_EQ(uint32_t(back), seconds);
}

TEST(TimeConvert, CalendarAgreesWithGmtimeAtTheEdgesAndOverTheWholeRange) {
  // 2000-02-29, 2038-01-19 03:14:08 (read unsigned), 2100-03-01 (no
  // February 29) and 2106-02-07 06:28:15.
  for (uint32_t seconds : {951782400u, 2147483648u, 4107542400u, 4294967295u})
    expect_calendar_and_back(seconds);
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

TEST(TimeConvert, FiletimeBothWaysAndTheOldValueKeptWhenRefused) {
  FileTime ft = {};
  ASSERT_EQ(seconds_to_filetime(4294967295u, &ft), 1);
  EXPECT_EQ((uint64_t(ft.high) << 32 | ft.low), uint64_t(4294967295ll * 10000000 + epoch_ticks));

  int32_t seconds = 0;
  FileTime with_fraction = filetime_of(1000000000, 9999999);  // 0.9999999 s more: cut off
  ASSERT_EQ(filetime_to_seconds(&with_fraction, &seconds), 1);
  EXPECT_EQ(seconds, 1000000000);

  const FileTime refused[] = {
      {0, 0},                    // 1601: below the range of the seconds
      {0xFFFFFFFF, 0xFFFFFFFF},  // not a time the system converts
      filetime_of(-63158401),    // 1967-12-31 23:59:59
  };
  for (const FileTime& bad : refused) {
    seconds = 777;
    EXPECT_EQ(filetime_to_seconds(&bad, &seconds), 0);
    EXPECT_EQ(seconds, 777);
  }
}

TEST(TimeConvert, WholeHoursOfTheZoneAreApplied) {
  const std::pair<const char*, int64_t> cases[] = {
      {"JST-9", 32400}, {"EST5EDT", -18000}, {"IST-5:30", 18000}, {nullptr, 0}, {"ABC+", 0},
  };
  // A long value is read from its first 99 characters: "-1" counts, the "2"
  // behind it does not.
  std::string long_value = std::string(97, 'A') + "-12" + std::string(50, 'B');
  std::string beyond = std::string(99, 'A') + "-5";
  auto shift_by = [](const char* tz, int32_t value) {
    tz == nullptr ? unsetenv("TZ") : setenv("TZ", tz, 1);
    apply_tz_offset(&value);
    return value;
  };
  for (const auto& [tz, shift] : cases)
    EXPECT_EQ(shift_by(tz, 1000000000) - 1000000000, shift) << (tz ? tz : "(unset)");
  EXPECT_EQ(shift_by(long_value.c_str(), 0), 3600);
  EXPECT_EQ(shift_by(beyond.c_str(), 0), 0);
  // The shift wraps like the unsigned seconds.
  EXPECT_EQ(uint32_t(shift_by("JST-9", INT32_MAX)), 2147483647u + 32400u);
  unsetenv("TZ");
}

TEST(ExistingFile, LastWriteTimeInSecondsOrNewestWhenUnknown) {
  char scratch[] = "/tmp/kobrix_time_XXXXXX";
  ASSERT_NE(mkdtemp(scratch), nullptr);
  std::string root = scratch;
  posix_set_root(root.c_str());
  // 2096 reads unsigned; 1963 is a time the seconds cannot hold.
  for (int64_t seconds : {int64_t(4000000000ll), int64_t(-220924800)}) {
    int fd = open((root + "/f.txt").c_str(), O_CREAT | O_WRONLY, 0644);
    struct timespec times[2] = {{time_t(seconds), 0}, {time_t(seconds), 0}};
    ASSERT_EQ(futimens(fd, times), 0);
    close(fd);
    EXPECT_EQ(existing_file_time("C:\\f.txt"), seconds > 0 ? uint32_t(seconds) : 0xFFFFFFFFu);
  }
  EXPECT_EQ(existing_file_time("C:\\missing.txt"), 0xFFFFFFFFu);
  EXPECT_EQ(existing_file_time("C:\\"), 0xFFFFFFFFu);  // a folder
  std::filesystem::remove_all(root);
}
