// platform/time.h on POSIX systems: Windows file times from the C library's clock.
#include "platform/time.h"

#include <time.h>
#include <unistd.h>

namespace qp {
namespace {

constexpr int64_t kTicksPerSecond = 10000000LL;
constexpr int64_t kTicksPerDay = 86400LL * kTicksPerSecond;

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

int days_in_month(int y, int m) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && leap(y) ? 29 : days[m - 1];
}

// Days since 1601-01-01 of a proleptic Gregorian date.
int64_t days_since_1601(int y, int m, int d) {
  // Shift the year to start in March, so the leap day comes last.
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days_since_0000_03_01 = era * 146097 + doe;
  // 1601-01-01 lies 584,694 days after 0000-03-01.
  return days_since_0000_03_01 - 584694;
}

void civil_from_days(int64_t days_1601, int* y, int* m, int* d) {
  int64_t z = days_1601 + 584694;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *y = static_cast<int>(yoe + era * 400 + (*m <= 2));
}

}  // namespace

bool system_time_to_file_time(const SystemTime& st, uint64_t* ft) {
  if (st.year < 1601 || st.year > 30827 || st.month < 1 || st.month > 12 || st.day < 1 ||
      st.day > days_in_month(st.year, st.month) || st.hour > 23 || st.minute > 59 || st.second > 59 ||
      st.milliseconds > 999)
    return false;
  int64_t t = days_since_1601(st.year, st.month, st.day) * kTicksPerDay +
              ((st.hour * 60 + st.minute) * 60 + st.second) * kTicksPerSecond + st.milliseconds * 10000LL;
  *ft = static_cast<uint64_t>(t);
  return true;
}

bool file_time_to_system_time(uint64_t ft, SystemTime* st) {
  if (ft >= 0x8000000000000000ULL) return false;
  int64_t days = static_cast<int64_t>(ft / uint64_t(kTicksPerDay));
  int64_t rest = static_cast<int64_t>(ft % uint64_t(kTicksPerDay));
  int y, m, d;
  civil_from_days(days, &y, &m, &d);
  st->year = static_cast<uint16_t>(y);
  st->month = static_cast<uint16_t>(m);
  st->day = static_cast<uint16_t>(d);
  st->day_of_week = static_cast<uint16_t>((days + 1) % 7);  // 1601-01-01 was a Monday
  st->hour = static_cast<uint16_t>(rest / (3600 * kTicksPerSecond));
  st->minute = static_cast<uint16_t>(rest / (60 * kTicksPerSecond) % 60);
  st->second = static_cast<uint16_t>(rest / kTicksPerSecond % 60);
  st->milliseconds = static_cast<uint16_t>(rest / 10000 % 1000);
  return true;
}

bool local_file_time_to_file_time(uint64_t local, uint64_t* utc) {
  // As on Windows, the bias in force now applies, whatever the date converted.
  time_t now = time(nullptr);
  struct tm tm_now;
  if (localtime_r(&now, &tm_now) == nullptr) return false;
  *utc = local - uint64_t(int64_t(tm_now.tm_gmtoff) * kTicksPerSecond);
  return true;
}

void get_local_time(SystemTime* st) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  struct tm t;
  localtime_r(&ts.tv_sec, &t);
  st->year = static_cast<uint16_t>(t.tm_year + 1900);
  st->month = static_cast<uint16_t>(t.tm_mon + 1);
  st->day_of_week = static_cast<uint16_t>(t.tm_wday);
  st->day = static_cast<uint16_t>(t.tm_mday);
  st->hour = static_cast<uint16_t>(t.tm_hour);
  st->minute = static_cast<uint16_t>(t.tm_min);
  st->second = static_cast<uint16_t>(t.tm_sec > 59 ? 59 : t.tm_sec);
  st->milliseconds = static_cast<uint16_t>(ts.tv_nsec / 1000000);
}

uint32_t tick_count() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint32_t>(uint64_t(ts.tv_sec) * 1000u + uint64_t(ts.tv_nsec) / 1000000u);
}

uint32_t desktop_id() { return static_cast<uint32_t>(getpid()) ^ (static_cast<uint32_t>(getuid()) << 16); }

}  // namespace qp
