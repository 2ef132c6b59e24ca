#include "zip/format/dos_time.h"

namespace quillon {

DosDateTime DosDateTime::from_stamp(uint32_t stamp) {
  DosDateTime t;
  const uint32_t date = stamp >> 16, time = stamp & 0xFFFF;
  t.year = ((date >> 9) & 0x7F) + 1980;
  t.month = (date >> 5) & 0x0F;
  t.day = date & 0x1F;
  t.hour = (time >> 11) & 0x1F;
  t.minute = (time >> 5) & 0x3F;
  t.second = (time & 0x1F) * 2;
  return t;
}

uint32_t DosDateTime::stamp() const {
  const uint32_t date = ((year - 1980u) & 0x7F) << 9 | (month & 0x0Fu) << 5 | (day & 0x1Fu);
  const uint32_t time = (hour & 0x1Fu) << 11 | (minute & 0x3Fu) << 5 | ((second / 2u) & 0x1Fu);
  return date << 16 | time;
}

uint64_t file_time_of_dos_stamp(uint32_t stamp) {
  const DosDateTime dos = DosDateTime::from_stamp(stamp);
  qp::SystemTime st;
  st.year = static_cast<uint16_t>(dos.year);
  st.month = static_cast<uint16_t>(dos.month);
  st.day = static_cast<uint16_t>(dos.day);
  st.hour = static_cast<uint16_t>(dos.hour);
  st.minute = static_cast<uint16_t>(dos.minute);
  st.second = static_cast<uint16_t>(dos.second);
  uint64_t ft = 0;
  if (qp::system_time_to_file_time(st, &ft)) return ft;
  qp::SystemTime first;
  first.year = 1980;
  first.month = 1;
  first.day = 1;
  qp::system_time_to_file_time(first, &ft);
  return ft;
}

uint32_t dos_stamp_of(const qp::SystemTime& st) {
  if (st.year < 1980) return DosDateTime().stamp();
  DosDateTime dos;
  if (st.year > 2107) {
    dos.year = 2107, dos.month = 12, dos.day = 31, dos.hour = 23, dos.minute = 59, dos.second = 58;
  } else {
    dos.year = st.year, dos.month = st.month, dos.day = st.day;
    dos.hour = st.hour, dos.minute = st.minute, dos.second = st.second;
  }
  return dos.stamp();
}

uint32_t dos_stamp_of_file_time(uint64_t file_time) {
  qp::SystemTime st;
  if (!qp::file_time_to_system_time(file_time, &st)) return dos_stamp_of(qp::SystemTime{});
  return dos_stamp_of(st);
}

int32_t unix_time_of_file_time(uint64_t file_time) {
  const int64_t seconds = (static_cast<int64_t>(file_time) - int64_t(kUnixEpochTicks)) / int64_t(kTicksPerSecond);
  return static_cast<int32_t>(static_cast<uint32_t>(seconds));
}

}  // namespace quillon
