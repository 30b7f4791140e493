// Time stamps: seconds since 1970-01-01 00:00:00 UTC, converted to and from
// SYSTEMTIME and FILETIME through the packed date and time of FAT (with a
// separate year offset for years before 1980). Only SYSTEMTIME <-> FILETIME
// is left to the system. Correct for the whole unsigned range of seconds,
// 1970-01-01 to 2106-02-07 06:28:15, and back from dates from 1968-01-01.
#include "archive/archive.h"
#include "startup/startup.h"

namespace {

constexpr uint8_t month_lengths[2][12] = {
    {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
    {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
};

constexpr uint32_t seconds_per_day = 86400;
constexpr uint32_t day_2000 = 10957;  // 2000-01-01
constexpr uint32_t day_2100 = 47482;  // 2100-01-01
constexpr uint32_t four_years = 1461;

bool is_leap(uint32_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}
uint32_t year_length(uint32_t year) {
  return is_leap(year) ? 366 : 365;
}

uint32_t pack(uint32_t year_field, uint32_t month, uint32_t day, uint32_t hour, uint32_t minute,
              uint32_t second) {
  return (year_field & 0x7F) << 25 | (month & 0x0F) << 21 | (day & 0x1F) << 16 |
         (hour & 0x1F) << 11 | (minute & 0x3F) << 5 | ((second / 2) & 0x1F);
}

// Weekday of a day count from 1970-01-01, a Thursday.
int weekday_of_day(int32_t days) {
  return int((days % 7 + 7 + 4) % 7);
}

// The last moment the 32 bits of seconds can hold: 2106-02-07 06:28:15.
constexpr uint16_t last_year = 2106;
constexpr uint16_t last_month = 2;
constexpr uint16_t last_day = 7;
constexpr uint32_t last_second_of_day = 6 * 3600 + 28 * 60 + 15;

// A calendar date and time from 1968-01-01 00:00:00 to the last moment.
bool representable(const SystemTime* t) {
  if (t->wYear < 1968 || t->wYear > last_year) return false;
  if (t->wMonth < 1 || t->wMonth > 12) return false;
  if (t->wDay < 1 || t->wDay > month_lengths[is_leap(t->wYear)][t->wMonth - 1]) return false;
  if (t->wHour > 23 || t->wMinute > 59 || t->wSecond > 59) return false;
  if (t->wYear < last_year) return true;
  if (t->wMonth != last_month) return t->wMonth < last_month;
  if (t->wDay != last_day) return t->wDay < last_day;
  return uint32_t(t->wHour) * 3600 + t->wMinute * 60 + t->wSecond <= last_second_of_day;
}

}  // namespace

uint32_t seconds_to_dos(uint32_t seconds, uint16_t* year_offset) {
  uint32_t days = seconds / seconds_per_day;
  uint32_t rest = seconds % seconds_per_day;

  uint32_t year;
  if (days < 730) {
    year = 1970;
    if (days >= 365) {
      year = 1971;
      days -= 365;
    }
  } else {
    if (days < day_2000) {
      year = 1972;
      days -= 730;
    } else if (days < day_2100) {
      year = 2000;
      days -= day_2000;
    } else {
      // 2100 is no leap year: no blocks of four from here, the year loop
      // below covers the few years left.
      year = 2100;
      days -= day_2100;
    }
    if (year != 2100 && days > four_years) {
      uint32_t n = (days - 1) / four_years;
      year += 4 * n;
      days -= four_years * n;
    }
    while (days >= year_length(year)) {
      days -= year_length(year);
      ++year;
    }
  }

  const uint8_t* lengths = month_lengths[is_leap(year)];
  uint32_t month = 1;
  while (month < 12 && days >= lengths[month - 1]) days -= lengths[month++ - 1];
  uint32_t day = days + 1;

  uint32_t hour = rest / 3600;
  uint32_t minute = rest % 3600 / 60;
  uint32_t second = rest % 60;

  *year_offset = uint16_t(year < 1980 ? 1980 - year : 0);
  return pack(year < 1980 ? 0 : year - 1980, month, day, hour, minute, second);
}

int32_t dos_to_seconds(uint16_t year_offset, uint32_t packed) {
  uint32_t year = uint16_t((packed >> 25) - year_offset + 1980);
  uint32_t month = packed >> 21 & 0x0F;
  uint32_t day = packed >> 16 & 0x1F;
  uint32_t hour = packed >> 11 & 0x1F;
  uint32_t minute = packed >> 5 & 0x3F;
  uint32_t second = (packed & 0x1F) * 2;

  // Day number of January 1 of year; the first year of each block of four
  // from 1968 and from 2000 is a leap year, which holds until 2100.
  uint32_t days;
  if (year >= 2100) {
    days = day_2100;
    for (uint32_t y = 2100; y < year; ++y) days += year_length(y);
  } else {
    uint32_t y;
    if (year >= 2000) {
      days = day_2000;
      y = year - 2000;
    } else {
      days = uint32_t(-731);  // 1968-01-01
      y = year - 1968;
    }
    days += y / 4 * four_years;
    uint32_t r = y % 4;
    if (r > 0) days += 366 + 365 * (r - 1);
  }

  const uint8_t* lengths = month_lengths[is_leap(year)];
  for (uint32_t m = 1; m < month && m <= 12; ++m) days += lengths[m - 1];
  days += day - 1;

  // 32-bit arithmetic: dates in 1968 and 1969 come out negative.
  return int32_t(((days * 24 + hour) * 60 + minute) * 60 + second);
}

// Rounds toward the earlier day, so that a second before 1970 is a Wednesday.
int weekday_of(int32_t seconds) {
  int32_t days = seconds / int32_t(seconds_per_day);
  if (seconds % int32_t(seconds_per_day) < 0) --days;
  return weekday_of_day(days);
}

int seconds_to_systemtime(uint32_t seconds, SystemTime* out) {
  if (out == nullptr) return 0;
  uint16_t year_offset;
  uint32_t packed = seconds_to_dos(seconds, &year_offset);
  out->wYear = uint16_t((packed >> 25) - year_offset + 1980);
  out->wMonth = uint16_t(packed >> 21 & 0x0F);
  out->wDay = uint16_t(packed >> 16 & 0x1F);
  out->wHour = uint16_t(packed >> 11 & 0x1F);
  out->wMinute = uint16_t(packed >> 5 & 0x3F);
  out->wSecond = uint16_t((packed & 0x1F) * 2 + seconds % 2);
  // The seconds are read unsigned here, so the weekday is too (2038 onwards).
  out->wDayOfWeek = uint16_t(weekday_of_day(int32_t(seconds / seconds_per_day)));
  out->wMilliseconds = 0;
  return 1;
}

// Dates outside 1968-01-01 00:00:00 to 2106-02-07 06:28:15, and invalid
// fields, are refused (0) and leave *out unchanged: the caller keeps the time
// it had. Milliseconds and the weekday are ignored.
int systemtime_to_seconds(const SystemTime* in, int32_t* out) {
  if (in == nullptr || out == nullptr) return 0;
  if (!representable(in)) return 0;
  uint32_t year_field = 0;
  uint16_t year_offset = 0;
  if (in->wYear >= 1980) {
    year_field = (in->wYear - 1980) % 128;
  } else {
    year_offset = uint16_t(1980 - in->wYear);
  }
  uint32_t packed = pack(year_field, in->wMonth, in->wDay, in->wHour, in->wMinute, in->wSecond);
  *out = int32_t(uint32_t(dos_to_seconds(year_offset, packed)) + in->wSecond % 2);
  return 1;
}

int seconds_to_filetime(uint32_t seconds, FileTime* out) {
  if (out == nullptr) return 0;
  SystemTime calendar;
  seconds_to_systemtime(seconds, &calendar);
  return sys_systemtime_to_filetime(&calendar, out) ? 1 : 0;
}

int filetime_to_seconds(const FileTime* in, int32_t* out) {
  if (in == nullptr || out == nullptr) return 0;
  SystemTime calendar;
  if (!sys_filetime_to_systemtime(in, &calendar)) return 0;
  return systemtime_to_seconds(&calendar, out);
}

// Turns a UTC time into local time by the whole hours of "TZ" read the POSIX
// way ("JST-9" is 9 hours east of UTC). Minutes and the daylight part are
// ignored. A value of 100 characters or more is read from its first 99.
void apply_tz_offset(int32_t* value) {
  if (value == nullptr) return;
  constexpr uint32_t tz_size = 100;
  char tz[tz_size];
  uint32_t length = sys_get_environment("TZ", tz, tz_size);
  if (length == 0) return;
  if (length >= tz_size) {
    char* whole = static_cast<char*>(sys_alloc_zeroed(length));
    if (whole == nullptr) return;
    uint32_t read = sys_get_environment("TZ", whole, length);
    if (read == 0 || read >= length) {
      sys_free(whole);
      return;
    }
    text_copy(tz, whole, tz_size);
    sys_free(whole);
  }

  const char* p = tz;
  while (*p != 0 && *p != '+' && *p != '-' && !(*p >= '0' && *p <= '9')) ++p;
  bool east = *p == '-';
  if (*p == '-' || *p == '+') ++p;
  uint32_t hours = 0;
  // Digits beyond any real offset are read but cannot overflow.
  for (; *p >= '0' && *p <= '9'; ++p) {
    if (hours < 100000) hours = hours * 10 + uint32_t(*p - '0');
  }
  uint32_t shift = hours * 3600;
  uint32_t seconds = uint32_t(*value);
  *value = int32_t(east ? seconds + shift : seconds - shift);
}

// A file that cannot be opened, or whose time cannot be read or converted,
// counts as newer than any member: nothing is overwritten on a doubt.
uint32_t existing_file_time(const char* path) {
  FileHandle file = sys_open_existing_file(path);
  if (file == invalid_file) return 0xFFFFFFFFu;
  FileTime written;
  int32_t seconds = 0;
  bool known = sys_get_file_time(file, nullptr, nullptr, &written) &&
               filetime_to_seconds(&written, &seconds);
  sys_close_file(file);
  return known ? uint32_t(seconds) : 0xFFFFFFFFu;
}
