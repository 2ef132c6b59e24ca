// The archive reader: the end-record search, opening an archive, the walk
// over the central directory and the lookup by name.
//
// Every number taken from the archive is checked before it steers a read:
// counts against the directory's size, offsets against the source's range,
// lengths against the buffers they fill. A damaged archive gives a status,
// never a read outside the source.
//
// Positions, sizes and offsets are 64-bit throughout, for Zip64 (APPNOTE
// 4.5.3, 4.3.14, 4.3.15): a 32-bit field holding 0xFFFFFFFF takes its value
// from the record's Zip64 block, and a Zip64 end locator before the end
// record leads to the Zip64 end record, whose count, directory size and
// offset replace the end record's.
#include <algorithm>
#include <cstring>
#include <memory>
#include <vector>

#include "zip/format/records.h"
#include "zip/read/directory.h"

namespace quillon {

namespace {

constexpr uint64_t kNotFound = kNoSourcePosition;

// No offset or size in a source reaches this far; larger values read from
// Zip64 fields are damage, refused before they can enter a sum.
constexpr uint64_t kFarthest = uint64_t(1) << 62;

// Reads a fixed-size record in one request. Bytes the source could not
// deliver read as zero, so a truncated record fails the tests that follow;
// a read error gives -1.
int read_record(ByteSource* f, unsigned char* buf, uint32_t size) {
  const size_t got = source_read(buf, 1, size, f);
  if (got < size) std::memset(buf + got, 0, size - got);
  return source_failed(f) && got < size ? kReadIoError : kReadOk;
}

}  // namespace

uint64_t find_end_record(ByteSource* f) {
  if (source_seek(f, 0, qp::SeekFrom::End) != kReadOk) return kNotFound;
  const uint64_t size = source_tell(f);
  if (size == kNotFound) return kNotFound;
  // The record is 22 bytes and its comment at most 65,535: the record
  // starts within the last 65,535 + 22 bytes, read here in one piece.
  constexpr uint64_t kReach = 0xFFFF + EndRecord::kSize;
  const size_t tail = static_cast<size_t>(size < kReach ? size : kReach);
  if (tail < EndRecord::kSize) return kNotFound;
  std::vector<unsigned char> buf(tail);
  if (source_seek(f, int64_t(size - tail), qp::SeekFrom::Begin) != kReadOk) return kNotFound;
  if (source_read(buf.data(), tail, 1, f) != 1) return kNotFound;
  // A signature counts only where its whole record lies inside the source:
  // the bytes of an end record's own fields can read "PK\5\6" (a directory
  // at offset 0x06054B50), and past the end there is nothing to read. The
  // end record is the one whose comment ends the file (APPNOTE 4.3.16);
  // where data follows the archive, none does, and the last candidate whose
  // directory would end before it is taken, as other readers take it.
  uint64_t fallback = kNotFound;
  for (size_t i = tail - EndRecord::kSize + 1; i-- > 0;) {
    const unsigned char* p = buf.data() + i;
    if (get32(p) != kEndRecordSignature) continue;
    EndRecord end;
    if (!end.decode(p, tail - i)) continue;
    if (i + EndRecord::kSize + end.comment_length == tail) return size - tail + i;
    const bool markers = end.directory_size == kZip64Marker || end.directory_offset == kZip64Marker;
    if (fallback == kNotFound && (markers || uint64_t(end.directory_offset) + end.directory_size <= size - tail + i))
      fallback = size - tail + i;
  }
  return fallback;
}

namespace {

// The end record holds entry counts of 16 bits, so an archive of more than
// 65,535 entries written without ZIP64 records (as this library's writer and
// others do) states its count modulo 65,536. When the directory is large
// enough to hold at least 65,536 more records than stated, count its records
// by walking it once; a walk that ends exactly at the directory's end with a
// count that agrees modulo 65,536 is the true count. Smaller archives are
// never walked here.
uint32_t true_entry_count(ZipArchive* s) {
  const uint32_t stated = s->entry_count;
  if (s->zip64) return stated;  // a Zip64 end record states the true count
  if (uint64_t(stated) + 65536 > s->directory_size / CentralRecord::kSize) return stated;
  const uint64_t end = s->directory_offset + s->directory_size;
  uint64_t at = s->directory_offset;
  uint64_t count = 0;
  unsigned char r[CentralRecord::kSize];
  CentralRecord record;
  while (at < end) {
    if (end - at < CentralRecord::kSize) return stated;
    if (source_seek(s->source.get(), int64_t(s->leading_bytes + at), qp::SeekFrom::Begin) != kReadOk) return stated;
    if (read_record(s->source.get(), r, CentralRecord::kSize) != kReadOk) return stated;
    if (!record.decode(r, sizeof r)) return stated;
    at += record.total_size();
    if (++count > 0x7FFFFFFFu) return stated;
  }
  if (at != end || (count & 0xFFFF) != stated) return stated;
  return static_cast<uint32_t>(count);
}

// What the end record (or the Zip64 end record) says about the directory.
struct DirectoryInfo {
  uint64_t entries = 0;
  uint64_t size = 0;
  uint64_t offset = 0;
  uint64_t ends_before = 0;  // where the directory must end: the record that follows it
  bool zip64 = false;
};

// Reads a Zip64 end record at `at` (base-relative) and takes its fields when
// it is one that ends where the locator starts. kReadOk with *found set when
// it is; kReadOk without when it is not there; a status for a record that is
// there but refuses the archive (more than one disk).
int read_zip64_end_record(ByteSource* f, uint64_t at, uint64_t locator_at, DirectoryInfo* d, bool* found) {
  *found = false;
  if (at > locator_at || locator_at - at < Zip64EndRecord::kSize) return kReadOk;
  unsigned char r[Zip64EndRecord::kSize];
  if (source_seek(f, int64_t(at), qp::SeekFrom::Begin) != kReadOk) return kReadOk;
  if (read_record(f, r, Zip64EndRecord::kSize) != kReadOk) return kReadIoError;
  // The record's size field counts what follows it: 44 bytes of fixed
  // fields and any extensible data, up to the locator.
  Zip64EndRecord record;
  if (!record.decode(r, sizeof r) || record.record_size != locator_at - at - 12) return kReadOk;
  *found = true;
  if (record.disk != 0 || record.directory_disk != 0 || record.entries_on_disk != record.entries)
    return kReadBadArchive;
  d->entries = record.entries;
  d->size = record.directory_size;
  d->offset = record.directory_offset;
  d->ends_before = at;
  d->zip64 = true;
  return kReadOk;
}

// Looks for the Zip64 end locator just before the end record at `record`
// and, through it, for the Zip64 end record. The locator gives the record's
// offset from the archive's start; when other data comes before the archive
// that offset is off by its length, so the place right before the locator
// (where every writer puts the record) is tried too.
int find_zip64_end(ByteSource* f, uint64_t record, DirectoryInfo* d) {
  if (record < Zip64EndLocator::kSize + Zip64EndRecord::kSize) return kReadOk;
  const uint64_t locator_at = record - Zip64EndLocator::kSize;
  unsigned char l[Zip64EndLocator::kSize];
  if (source_seek(f, int64_t(locator_at), qp::SeekFrom::Begin) != kReadOk) return kReadIoError;
  if (read_record(f, l, Zip64EndLocator::kSize) != kReadOk) return kReadIoError;
  Zip64EndLocator locator;
  if (!locator.decode(l, sizeof l)) return kReadOk;
  if (locator.end_record_disk != 0 || locator.disks > 1) return kReadBadArchive;
  bool found = false;
  const uint64_t stated = locator.end_record_offset;
  int status = kReadOk;
  if (stated < locator_at) status = read_zip64_end_record(f, stated, locator_at, d, &found);
  if (status == kReadOk && !found)
    status = read_zip64_end_record(f, locator_at - Zip64EndRecord::kSize, locator_at, d, &found);
  return status;
}

}  // namespace

int index_local_headers(ZipArchive* s) {
  constexpr size_t kChunk = 65536;
  LocalHeaderIndex& index = s->local_index;
  index = LocalHeaderIndex();
  ByteSource* f = s->source.get();
  // (local header offset, entry number) in directory order, then sorted:
  // the entries that share an offset come out together, the first of
  // them in front.
  std::vector<std::pair<uint64_t, uint32_t>> all;
  all.reserve(s->entry_count);
  index.records.reserve(s->entry_count);
  std::vector<unsigned char> chunk(kChunk);
  uint64_t chunk_at = 0, held = 0;  // archive-relative offset of chunk[0]; bytes in it
  uint64_t at = s->directory_offset;
  for (uint32_t i = 0; i < s->entry_count; ++i) {
    if (at < chunk_at || at + CentralRecord::kSize > chunk_at + held) {
      if (source_seek(f, int64_t(s->leading_bytes) + int64_t(at), qp::SeekFrom::Begin) != kReadOk) break;
      held = source_read(chunk.data(), 1, kChunk, f);
      chunk_at = at;
      if (held < CentralRecord::kSize) break;
    }
    CentralRecord record;
    if (!record.decode(chunk.data() + (at - chunk_at), chunk_at + held - at)) break;
    uint64_t offset = record.local_header_offset;
    const uint32_t name_length = record.name_length, extra_length = record.extra_length;
    if (offset == kZip64Marker && extra_length > 0) {
      // A Zip64 offset: in the record's Zip64 block, after whichever sizes
      // are marked (APPNOTE 4.5.3). The extra field is taken from the
      // chunk when it lies there whole, else read on its own.
      uint64_t uncompressed = record.uncompressed_size, compressed = record.compressed_size;
      const uint64_t extra_at = at + CentralRecord::kSize + name_length;
      std::vector<unsigned char> x(extra_length);
      if (extra_at + extra_length <= chunk_at + held) {
        std::memcpy(x.data(), chunk.data() + (extra_at - chunk_at), extra_length);
      } else {
        if (source_seek(f, int64_t(s->leading_bytes + extra_at), qp::SeekFrom::Begin) != kReadOk ||
            source_read(x.data(), extra_length, 1, f) != 1)
          break;
        held = 0;  // the chunk no longer follows the source's position; read afresh
      }
      apply_zip64_extra(x.data(), extra_length, false, &uncompressed, &compressed, &offset);
    }
    all.emplace_back(offset, i);
    index.records.push_back(at);
    at += record.total_size();
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
  return kReadOk;
}

std::unique_ptr<ZipArchive> open_archive(ByteSourcePtr owned) {
  ByteSource* const source = owned.get();
  if (source == nullptr) return nullptr;
  const uint64_t record = find_end_record(source);
  int status = record == kNotFound ? kReadIoError : kReadOk;
  DirectoryInfo dir;
  uint32_t comment_size = 0;
  if (status == kReadOk) {
    unsigned char r[EndRecord::kSize];
    EndRecord end;
    if (source_seek(source, int64_t(record), qp::SeekFrom::Begin) != kReadOk) {
      status = kReadIoError;
    } else {
      status = read_record(source, r, EndRecord::kSize);
    }
    // The search found a signature whose whole record lies in the source.
    if (status == kReadOk && !end.decode(r, sizeof r)) status = kReadBadArchive;
    if (status == kReadOk) {
      const uint32_t disk = end.disk;
      const uint32_t dir_disk = end.directory_disk;
      const uint32_t entries_here = end.entries_on_disk;
      dir.entries = end.entries;
      dir.size = end.directory_size;
      dir.offset = end.directory_offset;
      dir.ends_before = record;
      comment_size = end.comment_length;
      // The Zip64 end record holds the directory's true figures where the end
      // record's own are markers (0xFFFF, 0xFFFFFFFF). It is taken only when
      // it agrees with every field of the end record that is not a marker:
      // bytes before the end record can look like a locator by chance, and
      // then the end record alone describes the archive (APPNOTE 4.3.14 to
      // 4.3.16; Info-ZIP and Go read such archives so too).
      const bool marked = end.entries == 0xFFFF || entries_here == 0xFFFF || disk == 0xFFFF ||
                          dir_disk == 0xFFFF || end.directory_size == kZip64Marker ||
                          end.directory_offset == kZip64Marker;
      DirectoryInfo zip64;
      status = find_zip64_end(source, record, &zip64);
      const bool agrees = zip64.zip64 && (end.entries == 0xFFFF || zip64.entries == end.entries) &&
                          (end.directory_size == kZip64Marker || zip64.size == end.directory_size) &&
                          (end.directory_offset == kZip64Marker || zip64.offset == end.directory_offset);
      if (!marked && (status != kReadOk || !agrees)) {
        status = kReadOk;
        zip64 = DirectoryInfo();
      }
      if (status == kReadOk && zip64.zip64) {
        dir = zip64;
      } else if (status == kReadOk && (entries_here != dir.entries || disk != 0 || dir_disk != 0)) {
        status = kReadBadArchive;
      }
      // The directory must end before the record that follows it, and must
      // have room for the records it claims; the count must fit an index.
      const uint64_t ends_at = dir.ends_before + source->base_offset;
      if (status == kReadOk && (dir.size > kFarthest || dir.offset > kFarthest || dir.entries > 0x7FFFFFFFu))
        status = kReadBadArchive;
      if (status == kReadOk && ends_at < dir.offset + dir.size) status = kReadBadArchive;
      if (status == kReadOk && dir.entries * CentralRecord::kSize > dir.size) status = kReadBadArchive;
    }
  }
  if (status != kReadOk) return nullptr;
  auto s = std::make_unique<ZipArchive>();
  s->source = std::move(owned);
  s->entry_count = static_cast<uint32_t>(dir.entries);
  s->comment_size = comment_size;
  s->leading_bytes = dir.ends_before + source->base_offset - (dir.offset + dir.size);
  s->end_record_offset = record + source->base_offset;
  s->directory_size = dir.size;
  s->directory_offset = dir.offset;
  s->zip64 = dir.zip64;
  source->base_offset = 0;
  s->entry_count = true_entry_count(s.get());
  if (index_local_headers(s.get()) != kReadOk) return nullptr;
  go_to_first_entry(s.get());
  return s;
}

ZipArchive* open_archive_raw(ByteSource* source) { return open_archive(ByteSourcePtr(source)).release(); }

int close_archive(ZipArchive* s) {
  if (s == nullptr) return kReadBadParam;
  delete s;  // closes its entry stream and its source
  return kReadOk;
}

namespace {

// Reads one variable field of a central record of `length` bytes into buf
// (capacity cap). A text field gets a terminator when it fits whole and is
// cut to the capacity, without one, when it does not; other fields are cut
// to the capacity. Without a buffer, or past what fits, the bytes are added
// to *skip, which is passed over before the next field that is read.
int read_field(ByteSource* f, char* buf, uint32_t cap, uint32_t length, bool text, int64_t* skip) {
  if (buf == nullptr) {
    *skip += length;
    return kReadOk;
  }
  uint32_t take = length < cap ? length : cap;
  if (text && length < cap) buf[length] = '\0';
  if (*skip != 0 && take > 0) {
    if (source_seek(f, *skip, qp::SeekFrom::Current) != kReadOk) return kReadIoError;
    *skip = 0;
  }
  if (take > 0 && source_read(buf, take, 1, f) != 1) return kReadIoError;
  *skip += length - take;
  return kReadOk;
}

}  // namespace

int read_entry_record(ZipArchive* s, EntryRecord* out, char* name, uint32_t name_cap, void* extra,
                      uint32_t extra_cap, char* comment, uint32_t comment_cap) {
  if (s == nullptr) return kReadBadParam;
  ByteSource* f = s->source.get();
  int status = kReadOk;
  unsigned char r[CentralRecord::kSize];
  EntryRecord info;
  const CentralRecord& record = info.central;
  if (source_seek(f, int64_t(s->leading_bytes) + s->entry_record_offset, qp::SeekFrom::Begin) != kReadOk) {
    status = kReadIoError;
  } else {
    status = read_record(f, r, CentralRecord::kSize);
    if (status == kReadOk && !info.central.decode(r, sizeof r)) status = kReadBadArchive;
  }
  if (status != kReadOk) return status;
  info.compressed_size = record.compressed_size;
  info.uncompressed_size = record.uncompressed_size;
  info.local_header_offset = record.local_header_offset;
  const bool zip64 = info.compressed_size == kZip64Marker || info.uncompressed_size == kZip64Marker ||
                     info.local_header_offset == kZip64Marker;

  // The variable part: name, extra field, comment. Each is read into its
  // buffer when one is given; what is not read is passed over.
  int64_t skip = 0;
  if (read_field(f, name, name_cap, record.name_length, true, &skip) != kReadOk) return kReadIoError;
  if (read_field(f, static_cast<char*>(extra), extra_cap, record.extra_length, false, &skip) != kReadOk)
    return kReadIoError;
  if (read_field(f, comment, comment_cap, record.comment_length, true, &skip) != kReadOk) return kReadIoError;
  if (zip64 && record.extra_length > 0) {
    // Marked fields take their values from the Zip64 block of the extra
    // field, read here whole (at most 65,535 bytes) when one is marked.
    std::vector<unsigned char> x(record.extra_length);
    const uint64_t extra_at = s->leading_bytes + s->entry_record_offset + CentralRecord::kSize + record.name_length;
    if (source_seek(f, int64_t(extra_at), qp::SeekFrom::Begin) != kReadOk ||
        source_read(x.data(), x.size(), 1, f) != 1)
      return kReadIoError;
    apply_zip64_extra(x.data(), record.extra_length, false, &info.uncompressed_size, &info.compressed_size,
                      &info.local_header_offset);
  }
  if (info.compressed_size > kFarthest || info.local_header_offset > kFarthest) return kReadBadArchive;
  if (out != nullptr) *out = info;
  return kReadOk;
}

int go_to_entry(ZipArchive* s, uint32_t n) {
  if (s == nullptr) return kReadBadParam;
  if (n >= s->entry_count) return kReadListEnd;
  s->entry_ok = false;
  s->entry_number = n;
  s->local_header = LocalHeaderFacts();
  // The index holds the records up to the first one that cannot be read;
  // no walk reaches those after it.
  const std::vector<uint64_t>& records = s->local_index.records;
  if (n >= records.size()) return kReadBadArchive;
  s->entry_record_offset = records[n];
  const int status = read_entry_record(s, &s->entry, nullptr, 0, nullptr, 0, nullptr, 0);
  s->entry_ok = status == kReadOk;
  return status;
}

int go_to_first_entry(ZipArchive* s) { return go_to_entry(s, 0); }

int go_to_next_entry(ZipArchive* s) {
  if (s == nullptr) return kReadBadParam;
  if (s->entry_number + 1 >= s->entry_count) return kReadListEnd;
  return go_to_entry(s, s->entry_number + 1);
}

namespace {

int compare_names_folding_ascii(const char* a, const char* b) {
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

}  // namespace

int compare_names(const char* a, const char* b, int case_mode) {
  if (case_mode == 1) return std::strcmp(a, b);
  return compare_names_folding_ascii(a, b);
}

namespace {

constexpr uint32_t kNameMax = 256;

struct NameAndMode {
  const char* name;
  int case_mode;
};

bool same_stored_name(ZipArchive*, const char* stored, void* context) {
  const NameAndMode* wanted = static_cast<const NameAndMode*>(context);
  return compare_names(stored, wanted->name, wanted->case_mode) == 0;
}

}  // namespace

int locate_entry(ZipArchive* s, const char* name, int case_mode) {
  if (s == nullptr || name == nullptr) return kReadBadParam;
  if (std::strlen(name) >= kNameMax) return kReadBadParam;
  NameAndMode wanted{name, case_mode};
  return locate_entry_matching(s, same_stored_name, &wanted);
}

int locate_entry_matching(ZipArchive* s, EntryNameMatch match, void* context) {
  if (s == nullptr || match == nullptr) return kReadBadParam;
  // The search goes over every entry, so it does not depend on the current
  // one, and steps over entries that cannot be described: a damaged record
  // hides neither the entries before it nor those after it.
  if (s->entry_count == 0) return kReadListEnd;
  const uint32_t saved_number = s->entry_number;
  const uint64_t saved_offset = s->entry_record_offset;
  const EntryRecord saved_info = s->entry;
  const bool saved_ok = s->entry_ok;

  const uint32_t readable = static_cast<uint32_t>(s->local_index.records.size());
  for (uint32_t i = 0; i < readable && i < s->entry_count; ++i) {
    if (go_to_entry(s, i) != kReadOk) continue;
    char current[kNameMax + 1];
    if (read_entry_record(s, nullptr, current, kNameMax, nullptr, 0, nullptr, 0) != kReadOk) continue;
    current[kNameMax] = '\0';  // a longer stored name is compared on its first 256 characters
    if (match(s, current, context)) return kReadOk;
  }
  s->entry_number = saved_number;
  s->entry_record_offset = saved_offset;
  s->entry = saved_info;
  s->entry_ok = saved_ok;
  return kReadListEnd;
}

const unsigned char* find_extra_block(const unsigned char* extra, uint32_t extra_length, uint16_t tag,
                                      uint32_t* length) {
  uint32_t p = 0;
  // Each block: a 2-byte tag, a 2-byte data length, the data (APPNOTE 4.5.1).
  constexpr uint32_t kHead = Zip64Extra::kHeadSize;
  while (p < extra_length && extra_length - p >= kHead) {
    const uint32_t id = get16(extra + p), size = get16(extra + p + 2);
    const uint32_t room = extra_length - p - kHead;
    if (id == tag) {
      *length = size < room ? size : room;
      return extra + p + kHead;
    }
    if (size > room) break;
    p += kHead + size;
  }
  *length = 0;
  return nullptr;
}

void apply_zip64_extra(const unsigned char* extra, uint32_t extra_length, bool local, uint64_t* uncompressed_size,
                       uint64_t* compressed_size, uint64_t* local_offset) {
  uint32_t length = 0;
  const unsigned char* block = find_extra_block(extra, extra_length, kZip64ExtraId, &length);
  if (block == nullptr) return;
  // A local header's block holds both sizes once either is marked (APPNOTE
  // 4.5.3); elsewhere only the marked fields are there, in this order.
  const bool both = local && length >= 16 && (*uncompressed_size == kZip64Marker || *compressed_size == kZip64Marker);
  Zip64Extra z;
  z.has_uncompressed_size = uncompressed_size != nullptr && (*uncompressed_size == kZip64Marker || both);
  z.has_compressed_size = compressed_size != nullptr && (*compressed_size == kZip64Marker || both);
  z.has_local_header_offset = local_offset != nullptr && *local_offset == kZip64Marker;
  z.decode(block, length);  // a field the block is too short for keeps its value
  if (z.has_uncompressed_size) *uncompressed_size = z.uncompressed_size;
  if (z.has_compressed_size) *compressed_size = z.compressed_size;
  if (z.has_local_header_offset) *local_offset = z.local_header_offset;
}

int read_archive_comment(ZipArchive* s, char* buf, uint32_t cap) {
  if (s == nullptr) return kReadBadParam;
  const uint32_t n = cap < s->comment_size ? cap : s->comment_size;
  if (source_seek(s->source.get(), int64_t(s->end_record_offset) + EndRecord::kSize, qp::SeekFrom::Begin) != kReadOk)
    return kReadIoError;
  if (n > 0) {
    buf[0] = '\0';
    if (source_read(buf, n, 1, s->source.get()) != 1) return kReadIoError;
  }
  if (s->comment_size < cap) buf[s->comment_size] = '\0';
  return static_cast<int>(n);
}

}  // namespace quillon
