// platform/time.h on Windows: the kernel's file time and system time calls.
#include "platform/time.h"

#include <windows.h>

namespace qp {
namespace {

SYSTEMTIME to_win(const SystemTime& st) {
  SYSTEMTIME w;
  w.wYear = st.year;
  w.wMonth = st.month;
  w.wDayOfWeek = st.day_of_week;
  w.wDay = st.day;
  w.wHour = st.hour;
  w.wMinute = st.minute;
  w.wSecond = st.second;
  w.wMilliseconds = st.milliseconds;
  return w;
}

SystemTime from_win(const SYSTEMTIME& w) {
  SystemTime st;
  st.year = w.wYear;
  st.month = w.wMonth;
  st.day_of_week = w.wDayOfWeek;
  st.day = w.wDay;
  st.hour = w.wHour;
  st.minute = w.wMinute;
  st.second = w.wSecond;
  st.milliseconds = w.wMilliseconds;
  return st;
}

}  // namespace

bool system_time_to_file_time(const SystemTime& st, uint64_t* ft) {
  // Windows refuses a day that its month lacks (29 February of 1900 or
  // 2100); Wine's conversion rolls it over into the next month instead. The
  // check here gives the same answer on both, and the POSIX build's.
  static const unsigned char kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (st.year % 4 == 0 && st.year % 100 != 0) || st.year % 400 == 0;
  if (st.month < 1 || st.month > 12 || st.day < 1 || st.day > kDays[st.month - 1] + (st.month == 2 && leap))
    return false;
  SYSTEMTIME w = to_win(st);
  FILETIME f;
  if (!SystemTimeToFileTime(&w, &f)) return false;
  *ft = (uint64_t(f.dwHighDateTime) << 32) | f.dwLowDateTime;
  return true;
}

bool file_time_to_system_time(uint64_t ft, SystemTime* st) {
  FILETIME f;
  f.dwLowDateTime = static_cast<DWORD>(ft);
  f.dwHighDateTime = static_cast<DWORD>(ft >> 32);
  SYSTEMTIME w;
  if (!FileTimeToSystemTime(&f, &w)) return false;
  *st = from_win(w);
  return true;
}

bool local_file_time_to_file_time(uint64_t local, uint64_t* utc) {
  FILETIME l, u;
  l.dwLowDateTime = static_cast<DWORD>(local);
  l.dwHighDateTime = static_cast<DWORD>(local >> 32);
  if (!LocalFileTimeToFileTime(&l, &u)) return false;
  *utc = (uint64_t(u.dwHighDateTime) << 32) | u.dwLowDateTime;
  return true;
}

void get_local_time(SystemTime* st) {
  SYSTEMTIME w;
  GetLocalTime(&w);
  *st = from_win(w);
}

uint32_t tick_count() { return GetTickCount(); }

uint32_t desktop_id() { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(GetDesktopWindow())); }

}  // namespace qp
