// Calendar and clock conversions.
#pragma once
#include <cstdint>

namespace qp {

// File times count 100-ns ticks since 1601-01-01 UTC; 1970-01-01 00:00 UTC,
// where Unix seconds start, is this many of them.
constexpr uint64_t kUnixEpochTicks = 116444736000000000ULL;

struct SystemTime {
  uint16_t year = 0, month = 0, day_of_week = 0, day = 0;
  uint16_t hour = 0, minute = 0, second = 0, milliseconds = 0;
};

// Calendar fields to a file time (100-ns ticks since 1601-01-01); false for
// fields that name no valid date or time (month 0, day 31 of April, ...).
bool system_time_to_file_time(const SystemTime& st, uint64_t* ft);

// File time to calendar fields, with no time-zone conversion.
bool file_time_to_system_time(uint64_t ft, SystemTime* st);

// A file time in local time to UTC, with the current time-zone bias.
bool local_file_time_to_file_time(uint64_t local, uint64_t* utc);

// The current local wall-clock time.
void get_local_time(SystemTime* st);

// Milliseconds since some fixed moment, wrapping at 2^32.
uint32_t tick_count();

// A number that identifies this session's desktop (a seed ingredient).
uint32_t desktop_id();

}  // namespace qp
