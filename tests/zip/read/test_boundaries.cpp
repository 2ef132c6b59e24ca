// The reader at the exact edges of the format: a 32-bit field of exactly
// 0xFFFFFFFF sends it to the Zip64 block and 0xFFFFFFFE does not; item
// counts of 65,534 to 65,536 with and without the Zip64 end record; Zip64
// archives behind other data; end records and directory records across the
// edges of the pieces the reader reads; names that fill ZIPENTRY.name; and
// DOS dates around century years and in every month.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/time.h"
#include "support/testkit.h"
#include "support/zip_builder.h"
#include "zip/api/close_handle.h"
#include "zip/format/records.h"
#include "zip/read/directory.h"
#include "zip/read/reader.h"

using namespace quillon;
using ziptest::Entry;

namespace {

void add64(std::string& s, uint64_t v) {
  for (int i = 0; i < 8; ++i) s += static_cast<char>(v >> (8 * i));
}

// A Zip64 extra block (tag 1) holding `values`, 8 bytes each.
std::string zip64_block(const std::vector<uint64_t>& values) {
  std::string b(4, '\0');
  testkit::put16(b, 0, 1);
  testkit::put16(b, 2, static_cast<uint16_t>(8 * values.size()));
  for (uint64_t v : values) add64(b, v);
  return b;
}

// `layout` (no archive comment, `prefix` bytes in front) with its end record
// replaced by a Zip64 end record, its locator and an end record whose count,
// size and offset are the markers. The locator holds
// the record's offset from the archive's start unless `absolute`.
std::string with_zip64_end(const ziptest::Layout& layout, size_t prefix, bool absolute = false) {
  EndRecord end;
  EXPECT_TRUE(end.decode(reinterpret_cast<const unsigned char*>(layout.bytes.data()) + layout.end_offset,
                         EndRecord::kSize));
  std::string z = layout.bytes.substr(0, layout.end_offset);
  Zip64EndRecord z64;
  z64.entries = z64.entries_on_disk = layout.central_offsets.size();
  z64.directory_size = end.directory_size;
  z64.directory_offset = end.directory_offset;
  Zip64EndLocator locator;
  locator.end_record_offset = z.size() - (absolute ? 0 : prefix);
  end.entries = end.entries_on_disk = 0xFFFF;
  end.directory_size = end.directory_offset = kZip64Marker;
  unsigned char buf[Zip64EndRecord::kSize + Zip64EndLocator::kSize + EndRecord::kSize];
  z64.encode(buf);
  locator.encode(buf + Zip64EndRecord::kSize);
  end.encode(buf + Zip64EndRecord::kSize + Zip64EndLocator::kSize);
  return z + std::string(reinterpret_cast<const char*>(buf), sizeof buf);
}

// An open memory archive of its own copy of the bytes (the reader reads the
// caller's block in place), closed at the end of the scope.
struct Opened {
  explicit Opened(std::string archive)
      : bytes(std::move(archive)), hz(OpenZip(bytes.data(), uint32_t(bytes.size()), nullptr)) {}
  ~Opened() {
    if (hz) CloseZipU(hz);
  }
  int count() {
    ZIPENTRY ze;
    return hz && GetZipItem(hz, -1, &ze) == ZIPR_OK ? ze.index : -1;
  }
  std::string name(int i) {
    ZIPENTRY ze;
    return GetZipItem(hz, i, &ze) == ZIPR_OK ? ze.name : "<failed>";
  }
  std::string data(int i) {
    char buf[64] = {};
    return UnzipItem(hz, i, buf, sizeof buf - 1) == ZIPR_OK ? buf : "<failed>";
  }
  const std::string bytes;
  HZIP hz;
};

std::vector<Entry> numbered(size_t n, const char* format = "n%05zx") {
  std::vector<Entry> entries(n);
  char name[16];
  for (size_t i = 0; i < n; ++i) {
    std::snprintf(name, sizeof name, format, i);
    entries[i].name = name;
  }
  return entries;
}

}  // namespace

// One stored entry of 5 bytes with one field set by hand, a Zip64 block in
// its central record (and, for the sizes, in its local header, which holds
// both sizes) or none. Only a field of exactly 0xFFFFFFFF takes the block's
// value; a ZIPENTRY size of 0xFFFFFFFF or more shows as 0xFFFFFFFF.
TEST(ReaderBoundaries, Zip64BlocksOnlyBehindTheMarker) {
  enum Field { kUsize, kCsize, kOffset };
  struct Case {
    const char* what;
    Field field;
    uint32_t stored;
    bool block;
    uint64_t in_block;
    ZIPRESULT result;
    uint32_t shown;  // the size of the field (for the offset: unused)
    bool extracts;
  };
  const Case cases[] = {
      {"size 0xFFFFFFFE alone", kUsize, 0xFFFFFFFEu, false, 0, ZIPR_OK, 0xFFFFFFFEu, false},
      {"size 0xFFFFFFFE beside a block", kUsize, 0xFFFFFFFEu, true, 5, ZIPR_OK, 0xFFFFFFFEu, false},
      {"marked size, 0xFFFFFFFE in the block", kUsize, kZip64Marker, true, 0xFFFFFFFEu, ZIPR_OK, 0xFFFFFFFEu, false},
      {"marked size, 0xFFFFFFFF in the block", kUsize, kZip64Marker, true, 0xFFFFFFFFu, ZIPR_OK, 0xFFFFFFFFu, false},
      {"marked size, 2^32 in the block", kUsize, kZip64Marker, true, 0x100000000u, ZIPR_OK, 0xFFFFFFFFu, false},
      {"marked size, 5 in the block", kUsize, kZip64Marker, true, 5, ZIPR_OK, 5, true},
      {"compressed 0xFFFFFFFE beside a block", kCsize, 0xFFFFFFFEu, true, 5, ZIPR_OK, 0xFFFFFFFEu, false},
      {"marked compressed size, 5 in the block", kCsize, kZip64Marker, true, 5, ZIPR_OK, 5, true},
      {"offset 0xFFFFFFFE beside a block", kOffset, 0xFFFFFFFEu, true, 0, ZIPR_CORRUPT, 0, false},
      {"marked offset, 0 in the block", kOffset, kZip64Marker, true, 0, ZIPR_OK, 0, true},
      {"marked offset without a block", kOffset, kZip64Marker, false, 0, ZIPR_CORRUPT, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Entry e("a.txt", "alpha");
    if (c.block) {
      e.central_extra = zip64_block({c.in_block});
      if (c.field == kUsize) e.local_extra = zip64_block({c.in_block, 5});
      if (c.field == kCsize) e.local_extra = zip64_block({5, c.in_block});
    }
    ziptest::Layout z = ziptest::build({e});
    const size_t central = z.central_offsets[0], local = z.local_offsets[0];
    switch (c.field) {
      case kUsize: testkit::put32(z.bytes, central + 24, c.stored), testkit::put32(z.bytes, local + 22, c.stored); break;
      case kCsize: testkit::put32(z.bytes, central + 20, c.stored), testkit::put32(z.bytes, local + 18, c.stored); break;
      case kOffset: testkit::put32(z.bytes, central + 42, c.stored); break;
    }
    Opened a(z.bytes);
    ASSERT_EQ(a.count(), 1);
    ZIPENTRY ze;
    ASSERT_EQ(GetZipItem(a.hz, 0, &ze), c.result);
    if (c.result != ZIPR_OK) continue;
    EXPECT_EQ(ze.uncompressed_size, c.field == kUsize ? c.shown : 5u);
    EXPECT_EQ(ze.compressed_size, c.field == kCsize ? c.shown : 5u);
    if (c.extracts) {
      EXPECT_EQ(a.data(0), "alpha");
    }
  }
  // The index of local headers made at the open follows the same rule: an
  // offset of 0xFFFFFFFE beside a block holding the next entry's offset is
  // not that entry's, which therefore shares its header with no one.
  std::vector<Entry> two = {{"b.txt", "bravo"}, {"a.txt", "alpha"}};
  two[0].central_extra = zip64_block({0});
  ziptest::Layout z = ziptest::build(two);
  const std::string block = zip64_block({z.local_offsets[1]});
  z.bytes.replace(z.central_offsets[0] + 46 + 5, block.size(), block);
  testkit::put32(z.bytes, z.central_offsets[0] + 42, 0xFFFFFFFEu);
  Opened a(z.bytes);
  ASSERT_EQ(a.count(), 2);
  EXPECT_EQ(a.name(0), "<failed>");
  EXPECT_EQ(a.data(1), "alpha");
}

// An archive behind other data whose Zip64 end locator holds the offset
// from the archive's own start (as when an archive is appended as it is)
// or from the file's start, and whose entries' offsets are in Zip64 blocks:
// the entries are found and extract.
TEST(ReaderBoundaries, Zip64ArchiveBehindOtherData) {
  for (const size_t prefix : {size_t(0), size_t(1), size_t(76), size_t(4096)}) {
    for (const bool absolute : {false, true}) {
      SCOPED_TRACE(std::to_string(prefix) + (absolute ? " absolute" : " archive-relative"));
      std::vector<Entry> entries = {{"a.txt", "alpha"}, {"b.txt", "bravo"}, {"c.txt", "charlie"}};
      entries[1].central_extra = zip64_block({0});  // its offset, filled in below
      ziptest::Layout z = ziptest::build(entries, "", std::string(prefix, 'P'));
      const uint32_t b_offset = z.local_offsets[1] - uint32_t(prefix);
      std::string block = zip64_block({b_offset});
      z.bytes.replace(z.central_offsets[1] + 46 + 5, block.size(), block);
      testkit::put32(z.bytes, z.central_offsets[1] + 42, kZip64Marker);
      const std::string bytes = with_zip64_end(z, prefix, absolute);
      Opened a(bytes);
      ASSERT_EQ(a.count(), 3);
      EXPECT_EQ(a.name(0), "a.txt");
      EXPECT_EQ(a.data(1), "bravo");
      EXPECT_EQ(a.data(2), "charlie");
    }
  }
}

// The end record's 16-bit count holds 65,534 items at most; 0xFFFF is the
// marker of the Zip64 end record, taken where it agrees with the end record.
// Without one (writers that never write it), 65,535 reads as it is and a
// count that wrapped is found by walking a directory large enough to hold
// 65,536 more records than it says: 65,536 records of 46 bytes are exactly
// that large.
TEST(ReaderBoundaries, ItemCountsAroundTheSixteenBitField) {
  struct Case {
    const char* what;
    size_t entries;
    bool zip64;
    int read;
  };
  const Case cases[] = {
      {"65,534 classic", 65534, false, 65534},
      {"65,535 classic, the marker alone", 65535, false, 65535},
      {"65,536 classic, the count wrapped", 65536, false, 65536},
      {"65,534 with Zip64 records", 65534, true, 65534},
      {"65,535 with Zip64 records", 65535, true, 65535},
      {"65,536 with Zip64 records", 65536, true, 65536},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const ziptest::Layout z = ziptest::build(numbered(c.entries));
    Opened a(c.zip64 ? with_zip64_end(z, 0) : z.bytes);
    ASSERT_EQ(a.count(), c.read);
    char last[16];
    std::snprintf(last, sizeof last, "n%05x", unsigned(c.read - 1));
    EXPECT_EQ(a.name(c.read - 1), last);
    EXPECT_EQ(a.data(c.read - 1), "");
  }
  // The last record's comment ends in what reads as a Zip64 end record and
  // its locator, with the directory's size and offset but 65,535 items: it
  // disagrees with an end record of 65,534 (no marker), which stands alone.
  std::vector<Entry> entries = numbered(65534);
  entries.back().comment = std::string(76, 'x');
  ziptest::Layout z = ziptest::build(entries);
  EndRecord end;
  ASSERT_TRUE(end.decode(reinterpret_cast<const unsigned char*>(z.bytes.data()) + z.end_offset, EndRecord::kSize));
  Zip64EndRecord z64;
  z64.entries = z64.entries_on_disk = 65535;
  z64.directory_size = end.directory_size;
  z64.directory_offset = end.directory_offset;
  Zip64EndLocator locator;
  locator.end_record_offset = z.end_offset - 76;
  unsigned char records[76];
  z64.encode(records);
  locator.encode(records + 56);
  z.bytes.replace(z.end_offset - 76, 76, reinterpret_cast<const char*>(records), 76);
  Opened lone(z.bytes);
  ASSERT_EQ(lone.count(), 65534);
  EXPECT_EQ(lone.name(65533), "n0fffd");
  // Records of 46 bytes: the directory holds exactly 65,536 more than the
  // wrapped count 0; one record fewer and the count stays as stated.
  for (const size_t n : {size_t(65536), size_t(65535)}) {
    std::vector<Entry> nameless(n);
    Opened a(ziptest::build_bytes(nameless));
    EXPECT_EQ(a.count(), n == 65536 ? 65536 : 65535) << n;
  }
}

// The end record lies within the last 65,557 bytes (22 and the longest
// comment). Whatever pieces a search reads that tail in, a record whose
// signature straddles the edge between two of them must be found: records
// end 1 to 4 bytes either side of every multiple of 256 from the end, and
// the farthest one, behind data that makes the file longer than the tail.
TEST(ReaderBoundaries, EndRecordAcrossSearchPieces) {
  const std::vector<Entry> one = {{"a.txt", "alpha"}};
  const std::string archive = ziptest::build_bytes(one);
  for (size_t edge = 256; edge <= 65536; edge += 256) {
    for (size_t back = edge - 4; back <= edge + 4; ++back) {
      // The record starts `back` bytes before the end of the file.
      if (back < EndRecord::kSize || back - EndRecord::kSize > 0xFFFF) continue;
      const std::string comment(back - EndRecord::kSize, 'c');
      Opened a(ziptest::build_bytes(one, comment, std::string(edge, 'P')));
      ASSERT_EQ(a.count(), 1) << back;
      EXPECT_EQ(a.name(0), "a.txt") << back;
    }
  }
  Opened farthest(std::string(100000, 'P') + ziptest::build_bytes(one, std::string(0xFFFF, 'c')));
  EXPECT_EQ(farthest.count(), 1);
  EXPECT_EQ(farthest.data(0), "alpha");
}

// The directory is read in pieces of 64 KiB: a record whose fixed 46 bytes,
// name or Zip64 block runs across the edge of a piece, by a byte or two or
// exactly to it, is read whole, and so is every record after it.
TEST(ReaderBoundaries, DirectoryRecordsAcrossReadPieces) {
  // Fillers of 100 bytes each (46 + a name of 54); the probe's record starts
  // `start` bytes into the directory and carries a Zip64 offset block.
  const size_t kPiece = 65536;
  for (int shift = -30; shift <= 46; ++shift) {
    const size_t probe_at = kPiece - 46 + shift;  // the fixed part ends `shift` bytes past the edge
    std::vector<Entry> entries;
    size_t at = 0;
    char name[64];
    while (probe_at - at >= 200) {
      std::snprintf(name, sizeof name, "filler%048zu", entries.size());
      entries.emplace_back(name, "");
      at += 100;
    }
    const size_t last = probe_at - at - 46;  // a filler that takes the rest, its name of 54 to 153 bytes
    entries.emplace_back(std::string(last, 'L'), "");
    Entry probe("probe.txt", "probe");
    probe.central_extra = zip64_block({0});
    entries.push_back(probe);
    entries.emplace_back("after.txt", "after");
    ziptest::Layout z = ziptest::build(entries);
    const size_t probe_record = z.central_offsets[entries.size() - 2];
    ASSERT_EQ(probe_record - z.central_offsets[0], probe_at);
    testkit::put32(z.bytes, probe_record + 42, kZip64Marker);
    const std::string block = zip64_block({z.local_offsets[entries.size() - 2]});
    z.bytes.replace(probe_record + 46 + 9, block.size(), block);
    Opened a(z.bytes);
    SCOPED_TRACE(shift);
    ASSERT_EQ(a.count(), int(entries.size()));
    EXPECT_EQ(a.data(int(entries.size()) - 2), "probe");
    EXPECT_EQ(a.data(int(entries.size()) - 1), "after");
  }
}

// ZIPENTRY.name holds 259 characters and a zero: a stored name is cut to
// that, before a whole UTF-8 character, and nothing is written past the
// field. The entry lies between guard bytes that must stay as they were.
TEST(ReaderBoundaries, NamesThatFillTheEntryName) {
  [[maybe_unused]] const std::string e_acute = "\xC3\xA9";
  struct Case {
    std::string stored;
    uint16_t flags;
    std::string shown;
  };
  const Case cases[] = {
      {std::string(258, 'a'), 0, std::string(258, 'a')},
      {std::string(259, 'a'), 0, std::string(259, 'a')},
      {std::string(260, 'a'), 0, std::string(259, 'a')},
      {std::string(261, 'a'), 0, std::string(259, 'a')},
#ifndef _WIN32
      // A two-byte character at 258 and 259 fits; at 259 and 260 it does not.
      // (Windows shows UTF-8 names in its code page, one byte for this one.)
      {std::string(257, 'a') + e_acute + "b", 0x800, std::string(257, 'a') + e_acute},
      {std::string(258, 'a') + e_acute + "b", 0x800, std::string(258, 'a')},
#endif
  };
  std::vector<Entry> entries;
  for (const Case& c : cases) {
    entries.emplace_back(c.stored, "x");
    entries.back().more_flags = c.flags;
  }
  const std::string bytes = ziptest::build_bytes(entries);
  Opened a(bytes);
  ASSERT_EQ(a.count(), int(entries.size()));
  struct Guarded {
    unsigned char before[32];
    ZIPENTRY ze;
    unsigned char after[32];
  };
  for (size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(i);
    Guarded g;
    std::memset(&g, 0xA5, sizeof g);
    ASSERT_EQ(GetZipItem(a.hz, int(i), &g.ze), ZIPR_OK);
    EXPECT_EQ(std::string(g.ze.name), cases[i].shown);
    EXPECT_EQ(g.ze.attributes, 0x20u);  // the field after the name
    for (unsigned char b : g.before) ASSERT_EQ(b, 0xA5);
    for (unsigned char b : g.after) ASSERT_EQ(b, 0xA5);
  }
}

// The reader's text buffers take a field's bytes and, when there is room, a
// zero; a field that fills its buffer exactly is not terminated, and the
// byte after the buffer is never touched.
TEST(ReaderBoundaries, CommentsAndNamesThatFillTheirBuffers) {
  std::vector<Entry> one = {{"name8.tx", "x"}};
  one[0].comment = "comment8";
  const std::string bytes = ziptest::build_bytes(one, "archive8");
  ZIPRESULT err;
  ZipArchive* s = open_archive_raw(open_byte_source(bytes.data(), uint32_t(bytes.size()), ZIPSRC_MEMORY, &err));
  ASSERT_NE(s, nullptr);
  for (uint32_t cap = 7; cap <= 10; ++cap) {
    SCOPED_TRACE(cap);
    char name[16], comment[16], global[16];
    std::memset(name, '#', sizeof name);
    std::memset(comment, '#', sizeof comment);
    std::memset(global, '#', sizeof global);
    ASSERT_EQ(read_entry_record(s, nullptr, name, cap, nullptr, 0, comment, cap), kReadOk);
    ASSERT_EQ(read_archive_comment(s, global, cap), int(cap < 8 ? cap : 8));
    const std::string kept_name = std::string("name8.tx").substr(0, cap);
    const std::string kept_comment = std::string("comment8").substr(0, cap);
    const std::string kept_global = std::string("archive8").substr(0, cap);
    EXPECT_EQ(std::string(name, cap < 8 ? cap : 8), kept_name);
    EXPECT_EQ(std::string(comment, cap < 8 ? cap : 8), kept_comment);
    EXPECT_EQ(std::string(global, cap < 8 ? cap : 8), kept_global);
    // Terminated only with room for it; nothing at or past the capacity.
    for (const char* buf : {name, comment, global}) {
      if (cap > 8) {
        EXPECT_EQ(buf[8], '\0');
      }
      for (uint32_t k = cap; k < 16; ++k) EXPECT_EQ(buf[k], '#') << k;
    }
  }
  close_archive(s);
}

// A DOS stamp names local time: ZIPENTRY's modification time is that local
// moment in UTC, by the current bias. Feb 29 exists in 2000, 2096 and 2104,
// not in 2100 (nor in 2023): an impossible date reads as 1980-01-01 00:00.
// Every month keeps its number. Ticks from Python's datetime.
TEST(ReaderBoundaries, DosDatesAroundCenturiesAndEveryMonth) {
  struct Case {
    uint32_t year, month, day;
    uint64_t ticks;  // that day at 12:34:56, 100-ns ticks since 1601; 0: impossible
  };
  const Case cases[] = {
      {2000, 2, 28, 125962148960000000ULL}, {2000, 2, 29, 125963012960000000ULL}, {2000, 3, 1, 125963876960000000ULL},
      {2096, 2, 28, 156257444960000000ULL}, {2096, 2, 29, 156258308960000000ULL}, {2096, 3, 1, 156259172960000000ULL},
      {2100, 2, 28, 157519748960000000ULL}, {2100, 2, 29, 0},                     {2100, 3, 1, 157520612960000000ULL},
      {2104, 2, 28, 158781188960000000ULL}, {2104, 2, 29, 158782052960000000ULL}, {2104, 3, 1, 158782916960000000ULL},
      {2024, 1, 31, 133511780960000000ULL}, {2024, 2, 29, 133536836960000000ULL}, {2024, 3, 31, 133563620960000000ULL},
      {2024, 4, 30, 133589540960000000ULL}, {2024, 5, 31, 133616324960000000ULL}, {2024, 6, 30, 133642244960000000ULL},
      {2024, 7, 31, 133669028960000000ULL}, {2024, 8, 31, 133695812960000000ULL}, {2024, 9, 30, 133721732960000000ULL},
      {2024, 10, 31, 133748516960000000ULL}, {2024, 11, 30, 133774436960000000ULL}, {2024, 12, 31, 133801220960000000ULL},
      {2023, 2, 29, 0},                     {2024, 4, 31, 0},
  };
  constexpr uint64_t k1980 = 119600064000000000ULL;  // 1980-01-01 00:00
  std::vector<Entry> entries;
  for (const Case& c : cases) {
    entries.emplace_back(std::to_string(c.year) + "-" + std::to_string(c.month) + "-" + std::to_string(c.day), "");
    entries.back().dos_datetime = ((c.year - 1980) << 9 | c.month << 5 | c.day) << 16 | (12u << 11 | 34u << 5 | 28u);
  }
  Opened a(ziptest::build_bytes(entries));
  ASSERT_EQ(a.count(), int(entries.size()));
  for (size_t i = 0; i < entries.size(); ++i) {
    SCOPED_TRACE(entries[i].name);
    ZIPENTRY ze;
    ASSERT_EQ(GetZipItem(a.hz, int(i), &ze), ZIPR_OK);
    uint64_t want = 0;
    ASSERT_TRUE(qp::local_file_time_to_file_time(cases[i].ticks ? cases[i].ticks : k1980, &want));
    EXPECT_EQ(uint64_t(ze.modify_time.dwHighDateTime) << 32 | ze.modify_time.dwLowDateTime, want);
  }
}
