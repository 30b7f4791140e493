// SYSTEMTIME and FILETIME, converted the way the system converts them: the
// proleptic Gregorian calendar, years 1601 to 30827, no time zones.
#include "platform/platform.h"

namespace {

constexpr int64_t ticks_per_second = 10000000;
constexpr int64_t ticks_per_day = 86400 * ticks_per_second;

bool is_leap(int64_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_month(int64_t year, int month) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap(year) ? 29 : days[month - 1];
}

// Days from 1601-01-01 to the date (month 1..12).
int64_t days_from_1601(int64_t year, int month, int day) {
  int64_t y = year - 1601;
  int64_t days = y * 365 + y / 4 - y / 100 + y / 400;
  for (int m = 1; m < month; ++m) days += days_in_month(year, m);
  return days + day - 1;
}

}  // namespace

int sys_systemtime_to_filetime(const SystemTime* in, FileTime* out) {
  if (in->wYear < 1601 || in->wYear > 30827 || in->wMonth < 1 || in->wMonth > 12 || in->wDay < 1 ||
      in->wDay > days_in_month(in->wYear, in->wMonth) || in->wHour > 23 || in->wMinute > 59 ||
      in->wSecond > 59 || in->wMilliseconds > 999)
    return 0;
  int64_t ticks = days_from_1601(in->wYear, in->wMonth, in->wDay) * ticks_per_day +
                  ((in->wHour * 60 + in->wMinute) * 60 + in->wSecond) * ticks_per_second +
                  int64_t(in->wMilliseconds) * 10000;
  out->low = uint32_t(uint64_t(ticks));
  out->high = uint32_t(uint64_t(ticks) >> 32);
  return 1;
}

int sys_filetime_to_systemtime(const FileTime* in, SystemTime* out) {
  uint64_t value = (uint64_t(in->high) << 32) | in->low;
  if (value > 0x7FFFFFFFFFFFFFFFull) return 0;
  int64_t ticks = int64_t(value);
  int64_t days = ticks / ticks_per_day;
  int64_t rest = ticks % ticks_per_day;
  // 1601-01-01 was a Monday.
  out->wDayOfWeek = uint16_t((days + 1) % 7);
  // Whole 400-year cycles of 146097 days from 1601, then centuries (the
  // last of a cycle a day longer), four-year spans (the last of a century
  // a day shorter but for the cycle's last) and years (the fourth a day
  // longer).
  int64_t year = 1601 + (days / 146097) * 400;
  days %= 146097;
  int64_t centuries = days / 36524 < 3 ? days / 36524 : 3;
  days -= centuries * 36524;
  int64_t spans = days / 1461;
  days -= spans * 1461;
  int64_t years = days / 365 < 3 ? days / 365 : 3;
  days -= years * 365;
  year += centuries * 100 + spans * 4 + years;
  int month = 1;
  while (days >= days_in_month(year, month)) days -= days_in_month(year, month++);
  out->wYear = uint16_t(year);
  out->wMonth = uint16_t(month);
  out->wDay = uint16_t(days + 1);
  out->wHour = uint16_t(rest / (3600 * ticks_per_second));
  out->wMinute = uint16_t(rest / (60 * ticks_per_second) % 60);
  out->wSecond = uint16_t(rest / ticks_per_second % 60);
  out->wMilliseconds = uint16_t(rest / 10000 % 1000);
  return 1;
}
