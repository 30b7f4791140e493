// Time stamps: seconds since 1970 against SYSTEMTIME and FILETIME, the
// "TZ" shift and the time of an existing file. The C library's gmtime
// serves as the independent calendar.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <string>

#include "archive/archive.h"
#include "platform/posix/posix_config.h"

namespace {

constexpr int64_t epoch_ticks = 116444736000000000;  // 1970-01-01 as FILETIME

FileTime filetime_of(int64_t unix_seconds, int64_t extra_ticks = 0) {
  uint64_t ticks = uint64_t(unix_seconds * 10000000 + epoch_ticks + extra_ticks);
  return FileTime{uint32_t(ticks), uint32_t(ticks >> 32)};
}

SystemTime calendar(int year, int month, int day, int hour, int minute, int second) {
  SystemTime t = {};
  t.wYear = uint16_t(year);
  t.wMonth = uint16_t(month);
  t.wDay = uint16_t(day);
  t.wHour = uint16_t(hour);
  t.wMinute = uint16_t(minute);
  t.wSecond = uint16_t(second);
  return t;
}

// What gmtime says of an unsigned seconds value.
SystemTime reference(uint32_t seconds) {
  time_t t = time_t(seconds);
  struct tm tm;
  gmtime_r(&t, &tm);
  SystemTime s =
      calendar(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
  s.wDayOfWeek = uint16_t(tm.tm_wday);
  return s;
}

void expect_same(const SystemTime& a, const SystemTime& b, uint32_t seconds) {
  EXPECT_EQ(a.wYear, b.wYear) << seconds;
  EXPECT_EQ(a.wMonth, b.wMonth) << seconds;
  EXPECT_EQ(a.wDay, b.wDay) << seconds;
  EXPECT_EQ(a.wHour, b.wHour) << seconds;
  EXPECT_EQ(a.wMinute, b.wMinute) << seconds;
  EXPECT_EQ(a.wSecond, b.wSecond) << seconds;
  EXPECT_EQ(a.wDayOfWeek, b.wDayOfWeek) << seconds;
}

// The calendar of seconds against gmtime, and the way back.
void expect_calendar_and_back(uint32_t seconds) {
  SystemTime mine;
  ASSERT_EQ(seconds_to_systemtime(seconds, &mine), 1);
  expect_same(mine, reference(seconds), seconds);
  EXPECT_EQ(mine.wMilliseconds, 0);
  int32_t back = 0;
  ASSERT_EQ(systemtime_to_seconds(&mine, &back), 1) << seconds;
  EXPECT_EQ(uint32_t(back), seconds);
}

TEST(TimeConvert, PackedEdgeValues) {
  struct Case {
    uint32_t seconds;
    uint32_t packed;
    uint16_t year_offset;
  };
  const Case cases[] = {
      {0, 0x00210000, 10},           // 1970-01-01 00:00:00
      {1, 0x00210000, 10},           // the odd second is not packed
      {31536000, 0x00210000, 9},     // 1971-01-01
      {315532800, 0x00210000, 0},    // 1980-01-01
      {951782400, 0x285D0000, 0},    // 2000-02-29
      {2147483647, 0x743319C3, 0},   // 2038-01-19 03:14:07
      {4102444799, 0xEF9FBF7D, 0},   // 2099-12-31 23:59:59
      {4102444800u, 0xF0210000, 0},  // 2100-01-01
      {4107542400u, 0xF0610000, 0},  // 2100-03-01, 2100 has no February 29
      {4133980799u, 0xF19FBF7D, 0},  // 2100-12-31 23:59:59
      {4294967295u, 0xFC473387, 0},  // 2106-02-07 06:28:15
      {2147483648u, 0x743319C4, 0},  // 03:14:08, still Tuesday read unsigned
  };
  for (const Case& t : cases) {
    uint16_t year_offset = 0xFFFF;
    EXPECT_EQ(seconds_to_dos(t.seconds, &year_offset), t.packed) << t.seconds;
    EXPECT_EQ(year_offset, t.year_offset) << t.seconds;
    EXPECT_EQ(uint32_t(dos_to_seconds(t.year_offset, t.packed)), t.seconds & ~1u) << t.seconds;
    expect_calendar_and_back(t.seconds);
  }
}

TEST(TimeConvert, PackedDatesOf1968And1969AreNegative) {
  EXPECT_EQ(dos_to_seconds(12, 0x00210000), -63158400);  // 1968-01-01
  EXPECT_EQ(dos_to_seconds(11, 0x019FBF7D), -2);         // 1969-12-31 23:59:58
}

TEST(TimeConvert, CalendarAgreesWithGmtimeOverTheWholeRange) {
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

TEST(TimeConvert, WeekdayOfSignedSeconds) {
  EXPECT_EQ(weekday_of(0), 4);
  EXPECT_EQ(weekday_of(86399), 4);
  EXPECT_EQ(weekday_of(86400), 5);
  EXPECT_EQ(weekday_of(2147483647), 2);
  // Before 1970 the day begins at midnight too: 1969-12-31 was a Wednesday,
  // 1969-12-26 a Friday, 1901-12-13 a Friday.
  EXPECT_EQ(weekday_of(-1), 3);
  EXPECT_EQ(weekday_of(-86400), 3);
  EXPECT_EQ(weekday_of(-86401), 2);
  EXPECT_EQ(weekday_of(-6 * 86400), 5);
  EXPECT_EQ(weekday_of(INT32_MIN), 5);
}

TEST(TimeConvert, SystemtimeToSecondsIgnoresMillisecondsAndWeekday) {
  SystemTime t = calendar(2000, 2, 29, 12, 30, 45);
  int32_t plain = 0;
  ASSERT_EQ(systemtime_to_seconds(&t, &plain), 1);
  EXPECT_EQ(plain, 951827445);
  t.wMilliseconds = 999;
  t.wDayOfWeek = 6;
  int32_t with_ms = 0;
  ASSERT_EQ(systemtime_to_seconds(&t, &with_ms), 1);
  EXPECT_EQ(with_ms, plain);
}

TEST(TimeConvert, SystemtimeOutsideTheRangeIsRefusedAndChangesNothing) {
  const SystemTime refused[] = {
      calendar(1967, 12, 31, 23, 59, 59), calendar(1601, 1, 1, 0, 0, 0),
      calendar(2106, 2, 7, 6, 28, 16),    calendar(2107, 12, 31, 23, 59, 59),
      calendar(2108, 1, 1, 0, 0, 0),      calendar(2000, 13, 1, 0, 0, 0),
      calendar(2000, 0, 1, 0, 0, 0),      calendar(2100, 2, 29, 0, 0, 0),
      calendar(2000, 4, 31, 0, 0, 0),     calendar(2000, 1, 1, 24, 0, 0),
  };
  for (const SystemTime& t : refused) {
    int32_t out = 12345;
    EXPECT_EQ(systemtime_to_seconds(&t, &out), 0) << t.wYear << "-" << t.wMonth << "-" << t.wDay;
    EXPECT_EQ(out, 12345);
  }
  SystemTime first = calendar(1968, 1, 1, 0, 0, 0);
  SystemTime last = calendar(2106, 2, 7, 6, 28, 15);
  int32_t out = 0;
  ASSERT_EQ(systemtime_to_seconds(&first, &out), 1);
  EXPECT_EQ(out, -63158400);
  ASSERT_EQ(systemtime_to_seconds(&last, &out), 1);
  EXPECT_EQ(uint32_t(out), 0xFFFFFFFFu);
  EXPECT_EQ(systemtime_to_seconds(nullptr, &out), 0);
  EXPECT_EQ(systemtime_to_seconds(&first, nullptr), 0);
  EXPECT_EQ(seconds_to_systemtime(0, nullptr), 0);
}

TEST(TimeConvert, FiletimeBothWays) {
  FileTime ft = {};
  ASSERT_EQ(seconds_to_filetime(0, &ft), 1);
  EXPECT_EQ((uint64_t(ft.high) << 32 | ft.low), uint64_t(epoch_ticks));
  ASSERT_EQ(seconds_to_filetime(4294967295u, &ft), 1);
  EXPECT_EQ((uint64_t(ft.high) << 32 | ft.low), uint64_t(4294967295ll * 10000000 + epoch_ticks));
  EXPECT_EQ(seconds_to_filetime(0, nullptr), 0);

  int32_t seconds = 0;
  FileTime y1968 = filetime_of(-63158400);
  ASSERT_EQ(filetime_to_seconds(&y1968, &seconds), 1);
  EXPECT_EQ(seconds, -63158400);
  FileTime with_fraction = filetime_of(1000000000, 9999999);  // 0.9999999 s more: cut off
  ASSERT_EQ(filetime_to_seconds(&with_fraction, &seconds), 1);
  EXPECT_EQ(seconds, 1000000000);
}

TEST(TimeConvert, FiletimeThatCannotBeConvertedKeepsTheOldValue) {
  const FileTime refused[] = {
      {0, 0},                    // 1601: below the range of the seconds
      {0xFFFFFFFF, 0xFFFFFFFF},  // not a time the system converts
      filetime_of(-63158401),    // 1967-12-31 23:59:59
  };
  for (const FileTime& ft : refused) {
    int32_t seconds = 777;
    EXPECT_EQ(filetime_to_seconds(&ft, &seconds), 0);
    EXPECT_EQ(seconds, 777);
  }
  int32_t seconds = 777;
  EXPECT_EQ(filetime_to_seconds(nullptr, &seconds), 0);
  FileTime ft = filetime_of(0);
  EXPECT_EQ(filetime_to_seconds(&ft, nullptr), 0);
}

class TimeZone : public ::testing::Test {
 protected:
  void TearDown() override { unsetenv("TZ"); }

  static int64_t shift_by(const char* tz) {
    if (tz == nullptr) {
      unsetenv("TZ");
    } else {
      setenv("TZ", tz, 1);
    }
    int32_t value = 1000000000;
    apply_tz_offset(&value);
    return int64_t(value) - 1000000000;
  }
};

TEST_F(TimeZone, WholeHoursOfTheZoneAreApplied) {
  struct Case {
    const char* tz;
    int64_t shift;
  };
  const Case cases[] = {
      {"JST-9", 32400}, {"EST5EDT", -18000}, {"+3", -10800}, {"IST-5:30", 18000},
      {"UTC", 0},       {nullptr, 0},        {"", 0},        {"CET-1CEST,M3.5.0,M10.5.0/3", 3600},
      {"-12", 43200},   {"ABC+", 0},
  };
  for (const Case& t : cases) {
    EXPECT_EQ(shift_by(t.tz), t.shift) << (t.tz ? t.tz : "(unset)");
  }
}

TEST_F(TimeZone, LongValueIsReadFromItsFirst99Characters) {
  // The sign and first digit are the 98th and 99th characters: "-1" counts,
  // the "2" behind it does not.
  std::string tz = std::string(97, 'A') + "-12" + std::string(50, 'B');
  EXPECT_EQ(shift_by(tz.c_str()), 3600);
  std::string beyond = std::string(99, 'A') + "-5";
  EXPECT_EQ(shift_by(beyond.c_str()), 0);
}

TEST_F(TimeZone, ShiftWrapsLikeTheUnsignedSeconds) {
  setenv("TZ", "JST-9", 1);
  int32_t value = INT32_MAX;
  apply_tz_offset(&value);
  EXPECT_EQ(uint32_t(value), 2147483647u + 32400u);
  setenv("TZ", "EST5", 1);
  value = 0;
  apply_tz_offset(&value);
  EXPECT_EQ(uint32_t(value), uint32_t(-18000));
}

class ExistingFile : public ::testing::Test {
 protected:
  std::string root;
  void SetUp() override {
    // tmpfs holds times before 1601, which most disk file systems clamp.
    char shm[] = "/dev/shm/kobrix_time_XXXXXX";
    char tmp[] = "/tmp/kobrix_time_XXXXXX";
    char* scratch = mkdtemp(shm);
    if (scratch == nullptr) scratch = mkdtemp(tmp);
    ASSERT_NE(scratch, nullptr);
    root = scratch;
    posix_set_root(root.c_str());
  }
  void TearDown() override {
    std::string command = "rm -rf '" + root + "'";
    ASSERT_EQ(system(command.c_str()), 0);
  }
  // Creates the file below the root with both times set; false when the
  // file system cannot hold them.
  bool make_file(const char* name, int64_t seconds) {
    std::string path = root + "/" + name;
    int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    if (fd < 0) return false;
    struct timespec times[2] = {{time_t(seconds), 0}, {time_t(seconds), 0}};
    bool ok = futimens(fd, times) == 0;
    close(fd);
    struct stat st;
    return ok && stat(path.c_str(), &st) == 0 && st.st_mtime == time_t(seconds);
  }
};

TEST_F(ExistingFile, LastWriteTimeInSeconds) {
  ASSERT_TRUE(make_file("old.txt", 1000000000));
  EXPECT_EQ(existing_file_time("C:\\old.txt"), 1000000000u);
  ASSERT_TRUE(make_file("late.txt", 4000000000ll));
  EXPECT_EQ(existing_file_time("C:\\late.txt"), 4000000000u);
}

TEST_F(ExistingFile, UnknownTimesCountAsNewest) {
  EXPECT_EQ(existing_file_time("C:\\missing.txt"), 0xFFFFFFFFu);
  mkdir((root + "/folder").c_str(), 0777);
  EXPECT_EQ(existing_file_time("C:\\folder"), 0xFFFFFFFFu);
  // 1963 is a time the seconds cannot hold.
  ASSERT_TRUE(make_file("ancient.txt", -220924800));
  EXPECT_EQ(existing_file_time("C:\\ancient.txt"), 0xFFFFFFFFu);
}

TEST_F(ExistingFile, TimeThatCannotBeReadCountsAsNewest) {
  // Before 1601 the system has no FILETIME for it.
  if (!make_file("unreadable.txt", -20000000000ll)) {
    GTEST_SKIP() << "the file system of " << root << " cannot hold a time before 1601";
  }
  EXPECT_EQ(existing_file_time("C:\\unreadable.txt"), 0xFFFFFFFFu);
}

}  // namespace
