// The archive reader: the end-record search, opening an archive, the walk
// over the central directory and the lookup by name.
//
// Every number taken from the archive is checked before it steers a read:
// counts against the directory's size, offsets against the 32-bit range,
// lengths against the buffers they fill. A damaged archive gives a status,
// never a read outside the source.
#include <algorithm>
#include <cstring>
#include <new>

#include "zip/common/records.h"
#include "zip/unzip/unz_reader.h"

namespace quillon {

namespace {

constexpr uint32_t kNotFound = 0xFFFFFFFFu;

// Reads a fixed-size record in one request. Bytes the source could not
// deliver read as zero, so a truncated record fails the tests that follow;
// a read error gives -1.
int read_record(LUFILE* f, unsigned char* buf, uint32_t size) {
  const size_t got = lufread(buf, 1, size, f);
  if (got < size) std::memset(buf + got, 0, size - got);
  return luferror(f) && got < size ? UNZ_IOERROR : UNZ_OK;
}

}  // namespace

uint32_t unzlocal_SearchCentralDir(LUFILE* f) {
  if (lufseek(f, 0, 2) != 0) return kNotFound;
  const uint32_t size = luftell(f);
  if (size == kNotFound) return kNotFound;
  const uint32_t max_back = size < 0xFFFF ? size : 0xFFFF;
  constexpr uint32_t kWindow = 1024;
  unsigned char buf[kWindow + 4];
  uint32_t back = 4;
  while (back < max_back) {
    back = back + kWindow < max_back ? back + kWindow : max_back;
    const uint32_t read_pos = size - back;
    const uint32_t read_size = kWindow + 4 < size - read_pos ? kWindow + 4 : size - read_pos;
    if (lufseek(f, read_pos, 0) != 0) return kNotFound;
    if (lufread(buf, read_size, 1, f) != 1) return kNotFound;
    for (uint32_t i = read_size - 4 + 1; i-- > 0;) {
      if (buf[i] == 'P' && buf[i + 1] == 'K' && buf[i + 2] == 5 && buf[i + 3] == 6) return read_pos + i;
    }
  }
  return kNotFound;
}

void unzlocal_DosDateToTmuDate(uint32_t dos_datetime, tm_unz_s* tm) {
  const uint32_t date = dos_datetime >> 16;
  tm->tm_mday = date & 0x1F;
  tm->tm_mon = ((date >> 5) & 0x0F) - 1;
  tm->tm_year = ((date >> 9) & 0x7F) + 1980;
  tm->tm_hour = (dos_datetime >> 11) & 0x1F;
  tm->tm_min = (dos_datetime >> 5) & 0x3F;
  tm->tm_sec = (dos_datetime & 0x1F) * 2;
}

namespace {

// The end record holds entry counts of 16 bits, so an archive of more than
// 65,535 entries written without ZIP64 records (as this library's writer and
// others do) states its count modulo 65,536. When the directory is large
// enough to hold at least 65,536 more records than stated, count its records
// by walking it once; a walk that ends exactly at the directory's end with a
// count that agrees modulo 65,536 is the true count. Smaller archives are
// never walked here.
uint32_t true_entry_count(unz_s* s) {
  const uint32_t stated = s->global_info.entry_count;
  if (uint64_t(stated) + 65536 > s->directory_size / kCentralHeaderSize) return stated;
  const uint64_t end = uint64_t(s->directory_offset) + s->directory_size;
  uint64_t at = s->directory_offset;
  uint64_t count = 0;
  unsigned char r[kCentralHeaderSize];
  while (at < end) {
    if (end - at < kCentralHeaderSize) return stated;
    if (lufseek(s->source, int64_t(s->leading_bytes + at), 0) != 0) return stated;
    if (read_record(s->source, r, kCentralHeaderSize) != UNZ_OK) return stated;
    if (get32(r) != kCentralHeaderSignature) return stated;
    at += kCentralHeaderSize + uint64_t(get16(r + 28)) + get16(r + 30) + get16(r + 32);
    if (++count > 0xFFFFFFFFu) return stated;
  }
  if (at != end || (count & 0xFFFF) != stated) return stated;
  return static_cast<uint32_t>(count);
}

}  // namespace

int unzlocal_IndexLocalHeaders(unz_s* s) {
  constexpr size_t kChunk = 65536;
  unz_local_index_s& index = s->local_index;
  index = unz_local_index_s();
  LUFILE* f = s->source;
  try {
    // (local header offset, entry number) in directory order, then sorted:
    // the entries that share an offset come out together, the first of
    // them in front.
    std::vector<std::pair<uint64_t, uint32_t>> all;
    all.reserve(s->global_info.entry_count);
    std::vector<unsigned char> chunk(kChunk);
    uint64_t chunk_at = 0, held = 0;  // archive-relative offset of chunk[0]; bytes in it
    uint64_t at = s->directory_offset;
    for (uint32_t i = 0; i < s->global_info.entry_count; ++i) {
      if (at < chunk_at || at + kCentralHeaderSize > chunk_at + held) {
        if (lufseek(f, int64_t(s->leading_bytes) + int64_t(at), 0) != 0) break;
        held = lufread(chunk.data(), 1, kChunk, f);
        chunk_at = at;
        if (held < kCentralHeaderSize) break;
      }
      const unsigned char* r = chunk.data() + (at - chunk_at);
      if (get32(r) != kCentralHeaderSignature) break;
      all.emplace_back(get32(r + 42), i);
      at += kCentralHeaderSize + uint64_t(get16(r + 28)) + get16(r + 30) + get16(r + 32);
    }
    std::sort(all.begin(), all.end());
    index.offsets.reserve(all.size());
    for (size_t k = 0; k < all.size(); ++k) {
      if (k == 0 || all[k].first != all[k - 1].first) {
        index.offsets.push_back(all[k].first);
      } else if (index.shared.empty() || index.shared.back().first != all[k].first) {
        index.shared.push_back(all[k - 1]);
      }
    }
    index.entries = static_cast<uint32_t>(all.size());
  } catch (const std::bad_alloc&) {
    index = unz_local_index_s();
    return UNZ_NOMEMORY;
  }
  return UNZ_OK;
}

unz_s* unzOpenInternal(LUFILE* source) {
  if (source == nullptr) return nullptr;
  const uint32_t record = unzlocal_SearchCentralDir(source);
  int status = record == kNotFound ? UNZ_IOERROR : UNZ_OK;
  uint32_t entries_here = 0, entries_all = 0, dir_size = 0, dir_offset = 0, comment_size = 0;
  if (status == UNZ_OK) {
    unsigned char r[kEndRecordSize];
    if (lufseek(source, record, 0) != 0) {
      status = UNZ_IOERROR;
    } else {
      status = read_record(source, r, kEndRecordSize);
    }
    if (status == UNZ_OK) {
      const uint32_t disk = get16(r + 4);
      const uint32_t dir_disk = get16(r + 6);
      entries_here = get16(r + 8);
      entries_all = get16(r + 10);
      dir_size = get32(r + 12);
      dir_offset = get32(r + 16);
      comment_size = get16(r + 20);
      if (entries_here != entries_all || disk != 0 || dir_disk != 0) status = UNZ_BADARCHIVE;
      // The directory must end before the end record, and must have room
      // for the records it claims.
      const uint64_t record_at = uint64_t(record) + source->base_offset;
      if (status == UNZ_OK && record_at < uint64_t(dir_offset) + dir_size) status = UNZ_BADARCHIVE;
      if (status == UNZ_OK && uint64_t(entries_all) * kCentralHeaderSize > dir_size) status = UNZ_BADARCHIVE;
    }
  }
  if (status != UNZ_OK) {
    lufclose(source);
    return nullptr;
  }
  unz_s* s = new (std::nothrow) unz_s;
  if (s == nullptr) {
    lufclose(source);
    return nullptr;
  }
  const uint32_t record_at = record + source->base_offset;
  s->source = source;
  s->global_info.entry_count = entries_all;
  s->global_info.comment_size = comment_size;
  s->leading_bytes = record_at - (dir_offset + dir_size);
  s->end_record_offset = record_at;
  s->directory_size = dir_size;
  s->directory_offset = dir_offset;
  s->stream = nullptr;
  source->base_offset = 0;
  s->global_info.entry_count = true_entry_count(s);
  if (unzlocal_IndexLocalHeaders(s) != UNZ_OK) {
    unzClose(s);
    return nullptr;
  }
  unzGoToFirstFile(s);
  return s;
}

int unzClose(unz_s* s) {
  if (s == nullptr) return UNZ_BADPARAM;
  if (s->stream != nullptr) unzCloseCurrentFile(s);
  lufclose(s->source);
  delete s;
  return UNZ_OK;
}

int unzGetGlobalInfo(unz_s* s, unz_global_info_s* info) {
  if (s == nullptr) return UNZ_BADPARAM;
  *info = s->global_info;
  return UNZ_OK;
}

namespace {

// Reads one variable field of a central record of `length` bytes into buf
// (capacity cap). A text field gets a terminator when it fits whole and is
// cut to the capacity, without one, when it does not; other fields are cut
// to the capacity. Without a buffer, or past what fits, the bytes are added
// to *skip, which is passed over before the next field that is read.
int read_field(LUFILE* f, char* buf, uint32_t cap, uint32_t length, bool text, int64_t* skip) {
  if (buf == nullptr) {
    *skip += length;
    return UNZ_OK;
  }
  uint32_t take = length < cap ? length : cap;
  if (text && length < cap) buf[length] = '\0';
  if (*skip != 0 && take > 0) {
    if (lufseek(f, *skip, 1) != 0) return UNZ_IOERROR;
    *skip = 0;
  }
  if (take > 0 && lufread(buf, take, 1, f) != 1) return UNZ_IOERROR;
  *skip += length - take;
  return UNZ_OK;
}

}  // namespace

int unzlocal_GetCurrentFileInfoInternal(unz_s* s, unz_file_info_s* out, unz_file_info_internal_s* internal,
                                        char* name, uint32_t name_cap, void* extra, uint32_t extra_cap,
                                        char* comment, uint32_t comment_cap) {
  if (s == nullptr) return UNZ_BADPARAM;
  LUFILE* f = s->source;
  int status = UNZ_OK;
  unsigned char r[kCentralHeaderSize];
  if (lufseek(f, int64_t(s->leading_bytes) + s->entry_record_offset, 0) != 0) {
    status = UNZ_IOERROR;
  } else {
    status = read_record(f, r, kCentralHeaderSize);
    if (status == UNZ_OK && get32(r) != kCentralHeaderSignature) status = UNZ_BADARCHIVE;
  }
  if (status != UNZ_OK) return status;

  unz_file_info_s info;
  info.version_made_by = get16(r + 4);
  info.version_needed = get16(r + 6);
  info.flags = get16(r + 8);
  info.method = get16(r + 10);
  info.dos_datetime = get32(r + 12);
  unzlocal_DosDateToTmuDate(info.dos_datetime, &info.date);
  info.crc = get32(r + 16);
  info.compressed_size = get32(r + 20);
  info.uncompressed_size = get32(r + 24);
  info.name_length = get16(r + 28);
  info.extra_length = get16(r + 30);
  info.comment_length = get16(r + 32);
  info.disk_start = get16(r + 34);
  info.internal_attributes = get16(r + 36);
  info.external_attributes = get32(r + 38);
  unz_file_info_internal_s inside;
  inside.local_header_offset = get32(r + 42);

  // The variable part: name, extra field, comment. Each is read into its
  // buffer when one is given; what is not read is passed over.
  int64_t skip = 0;
  if (read_field(f, name, name_cap, info.name_length, true, &skip) != UNZ_OK) return UNZ_IOERROR;
  if (read_field(f, static_cast<char*>(extra), extra_cap, info.extra_length, false, &skip) != UNZ_OK)
    return UNZ_IOERROR;
  if (read_field(f, comment, comment_cap, info.comment_length, true, &skip) != UNZ_OK) return UNZ_IOERROR;
  if (out != nullptr) *out = info;
  if (internal != nullptr) *internal = inside;
  return UNZ_OK;
}

int unzGetCurrentFileInfo(unz_s* s, unz_file_info_s* info, char* name, uint32_t name_cap, void* extra,
                          uint32_t extra_cap, char* comment, uint32_t comment_cap) {
  return unzlocal_GetCurrentFileInfoInternal(s, info, nullptr, name, name_cap, extra, extra_cap, comment,
                                             comment_cap);
}

int unzGoToFirstFile(unz_s* s) {
  if (s == nullptr) return UNZ_BADPARAM;
  s->entry_record_offset = s->directory_offset;
  s->entry_number = 0;
  const int status = unzlocal_GetCurrentFileInfoInternal(s, &s->entry_info, &s->entry_info_internal, nullptr, 0,
                                                         nullptr, 0, nullptr, 0);
  s->entry_ok = status == UNZ_OK;
  return status;
}

int unzGoToNextFile(unz_s* s) {
  if (s == nullptr) return UNZ_BADPARAM;
  if (!s->entry_ok || s->entry_number + 1 >= s->global_info.entry_count) return UNZ_LISTEND;
  const uint64_t next = uint64_t(s->entry_record_offset) + kCentralHeaderSize + s->entry_info.name_length +
                        s->entry_info.extra_length + s->entry_info.comment_length;
  if (next > 0xFFFFFFFFu) {
    s->entry_ok = false;
    return UNZ_BADARCHIVE;
  }
  s->entry_record_offset = static_cast<uint32_t>(next);
  s->entry_number += 1;
  const int status = unzlocal_GetCurrentFileInfoInternal(s, &s->entry_info, &s->entry_info_internal, nullptr, 0,
                                                         nullptr, 0, nullptr, 0);
  s->entry_ok = status == UNZ_OK;
  return status;
}

int strcmpcasenosensitive_internal(const char* a, const char* b) {
  for (;;) {
    char c1 = *a++;
    char c2 = *b++;
    if (c1 >= 'a' && c1 <= 'z') c1 = static_cast<char>(c1 - 0x20);
    if (c2 >= 'a' && c2 <= 'z') c2 = static_cast<char>(c2 - 0x20);
    if (c1 == '\0') return c2 == '\0' ? 0 : -1;
    if (c2 == '\0') return 1;
    const signed char s1 = static_cast<signed char>(c1), s2 = static_cast<signed char>(c2);
    if (s1 < s2) return -1;
    if (s1 > s2) return 1;
  }
}

int unzStringFileNameCompare(const char* a, const char* b, int case_mode) {
  if (case_mode == 1) return std::strcmp(a, b);
  return strcmpcasenosensitive_internal(a, b);
}

int unzLocateFile(unz_s* s, const char* name, int case_mode) {
  constexpr uint32_t kNameMax = 256;
  if (s == nullptr || name == nullptr) return UNZ_BADPARAM;
  if (std::strlen(name) >= kNameMax) return UNZ_BADPARAM;
  // The search starts over from the first entry, so it does not depend on
  // the current one: a walk that stopped at a damaged record does not hide
  // the entries before it.
  if (s->global_info.entry_count == 0) return UNZ_LISTEND;
  const uint32_t saved_number = s->entry_number;
  const uint32_t saved_offset = s->entry_record_offset;
  const unz_file_info_s saved_info = s->entry_info;
  const unz_file_info_internal_s saved_internal = s->entry_info_internal;
  const bool saved_ok = s->entry_ok;

  int status = unzGoToFirstFile(s);
  while (status == UNZ_OK) {
    char current[kNameMax + 1];
    status = unzGetCurrentFileInfo(s, nullptr, current, kNameMax, nullptr, 0, nullptr, 0);
    if (status != UNZ_OK) break;
    current[kNameMax] = '\0';  // a longer stored name is compared on its first 256 characters
    if (unzStringFileNameCompare(current, name, case_mode) == 0) return UNZ_OK;
    status = unzGoToNextFile(s);
  }
  s->entry_number = saved_number;
  s->entry_record_offset = saved_offset;
  s->entry_info = saved_info;
  s->entry_info_internal = saved_internal;
  s->entry_ok = saved_ok;
  return status;
}

int unzGetGlobalComment(unz_s* s, char* buf, uint32_t cap) {
  if (s == nullptr) return UNZ_BADPARAM;
  const uint32_t n = cap < s->global_info.comment_size ? cap : s->global_info.comment_size;
  if (lufseek(s->source, int64_t(s->end_record_offset) + kEndRecordSize, 0) != 0) return UNZ_IOERROR;
  if (n > 0) {
    buf[0] = '\0';
    if (lufread(buf, n, 1, s->source) != 1) return UNZ_IOERROR;
  }
  if (s->global_info.comment_size < cap) buf[s->global_info.comment_size] = '\0';
  return static_cast<int>(n);
}

}  // namespace quillon
