// Times as the records hold them and as the systems keep them: the DOS stamp
// (APPNOTE 4.4.6) of every header, Unix seconds of the extra blocks, and
// Windows file times (100-ns ticks since 1601-01-01 UTC), which the library
// uses for every file time it hands on. The reader and the writer convert
// through these functions only.
#pragma once
#include <cstdint>

#include "platform/time.h"

namespace quillon {

constexpr uint64_t kTicksPerSecond = 10000000;
using qp::kUnixEpochTicks;

// DOS date and time as the records hold them: one 32-bit stamp, the time
// word in the low half (bits 0-4 seconds / 2, 5-10 minutes, 11-15 hours)
// and the date word in the high half (bits 0-4 day, 5-8 month, 9-15 years
// since 1980). The fields are as stored, unchecked: a damaged stamp may give
// month 0 or hour 31.
struct DosDateTime {
  uint32_t year = 1980, month = 1, day = 1;  // month 1-12
  uint32_t hour = 0, minute = 0, second = 0;  // second even
  static DosDateTime from_stamp(uint32_t stamp);
  // Packs the fields, each cut to its bits; the second is halved.
  uint32_t stamp() const;
};

// The file time of a stamp's calendar fields, in the zone the stamp was
// written in (no time-zone conversion). A stamp that names no moment (month
// 0, 31 April, hour 25...) gives the first moment a DOS date can name,
// 1980-01-01 00:00.
uint64_t file_time_of_dos_stamp(uint32_t stamp);
// The stamp of calendar fields. Dates before 1980 give 1980-01-01 00:00:00,
// dates after 2107 give 2107-12-31 23:59:58.
uint32_t dos_stamp_of(const qp::SystemTime& st);
// The stamp of a file time's calendar fields (no time-zone conversion), held
// at the ends as dos_stamp_of holds them; a file time the system cannot
// break down gives 1980-01-01 00:00:00.
uint32_t dos_stamp_of_file_time(uint64_t file_time);

// Unix seconds to a file time.
inline uint64_t file_time_of_unix_time(uint32_t seconds) { return seconds * kTicksPerSecond + kUnixEpochTicks; }
// Unix seconds of a file time, truncated toward zero, kept in 32 bits.
int32_t unix_time_of_file_time(uint64_t file_time);

}  // namespace quillon
