// The archive reader and the entry stream, on archives laid out byte by byte.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/file.h"
#include "support/testkit.h"
#include "support/zip_builder.h"
#include "zip/read/directory.h"

using namespace quillon;
using ziptest::Entry;

namespace {

ZipArchive* open_memory(const std::string& z) {
  ZIPRESULT err;
  ByteSource* f = open_byte_source(z.data(), static_cast<uint32_t>(z.size()), ZIPSRC_MEMORY, &err);
  return open_archive_raw(f);
}

// Whether the bytes open as an archive.
bool opens(const std::string& z) {
  ZipArchive* s = open_memory(z);
  if (s != nullptr) close_archive(s);
  return s != nullptr;
}

std::string current_name(ZipArchive* s) {
  char name[300];
  EXPECT_EQ(read_entry_record(s, nullptr, name, sizeof name, nullptr, 0, nullptr, 0), kReadOk);
  return name;
}

// Reads the current entry in pieces of `cap` bytes until the end flag.
struct ReadOutcome {
  std::string data;
  int last = 0;        // the last read's result
  int close = 0;       // close_entry_stream's verdict
  int reads = 0;
  bool ended = false;
};

ReadOutcome read_entry(ZipArchive* s, uint32_t cap, const char* password = nullptr) {
  ReadOutcome r;
  EXPECT_EQ(open_entry_stream(s, password), kReadOk);
  std::vector<char> buf(cap);
  for (int guard = 0; guard < 10000000; ++guard) {
    bool end = false;
    r.last = read_entry_stream(s, buf.data(), cap, &end);
    ++r.reads;
    if (r.last > 0) r.data.append(buf.data(), r.last);
    if (end) {
      r.ended = true;
      break;
    }
    if (r.last <= 0) break;
  }
  r.close = close_entry_stream(s);
  return r;
}

}  // namespace

TEST(EndRecord, FoundBehindComments) {
  const std::vector<Entry> one = {{"a.txt", "alpha"}};
  const std::string z = ziptest::build_bytes(one, std::string(1500, 'c'));
  ZipArchive* s = open_memory(z);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->comment_size, 1500u);
  char comment[2000];
  EXPECT_EQ(read_archive_comment(s, comment, sizeof comment), 1500);
  EXPECT_EQ(std::string(comment), std::string(1500, 'c'));
  EXPECT_EQ(current_name(s), "a.txt");
  close_archive(s);

  for (size_t pad = 1018; pad <= 1030; ++pad) {
    EXPECT_TRUE(opens(ziptest::build_bytes(one, std::string(pad, 'x')))) << pad;
  }
  // Data after the archive: the last whole record is taken.
  for (const std::string& after : {std::string("x"), std::string(100, 'j')}) {
    const std::string bytes = ziptest::build_bytes(one) + after;  // the memory source reads it in place
    ZipArchive* t = open_memory(bytes);
    ASSERT_NE(t, nullptr) << after.size();
    EXPECT_EQ(current_name(t), "a.txt");
    close_archive(t);
  }
  // The longest comment the record can announce is found behind; a record
  // further back than its 22 bytes and 65,535 is not searched for.
  EXPECT_TRUE(opens(ziptest::build_bytes(one, std::string(65535, 'c'))));
  EXPECT_FALSE(opens(ziptest::build_bytes(one, std::string(65535, 'c')) + "x"));
  EXPECT_FALSE(opens(std::string(5000, 'x')));
  EXPECT_FALSE(opens(""));
}

TEST(EndRecord, OnlyAWholeRecordIsOne) {
  // A directory at offset 0x06054B50 puts "PK\5\6" in the record's own
  // offset field, 6 bytes before the end: no record fits there, and the
  // bytes past the end are not zeros to be read as an empty archive. Here
  // the field is set by hand, so the true record then fails its checks.
  const ziptest::Layout base = ziptest::build({{"a.txt", "alpha"}});
  std::string z = base.bytes;
  testkit::put32(z, base.end_offset + 16, 0x06054B50);
  EXPECT_FALSE(opens(z));
  EXPECT_FALSE(opens(z.substr(base.end_offset + 16)));  // a signature with 2 bytes after it
}

TEST(EndRecord, ALocatorThatDisagreesWithTheEndRecordIsNone) {
  // The last record's comment stands right before the end record, where a
  // Zip64 end locator would. No field of the end record is a marker, so a
  // locator that leads nowhere sound is taken for the bytes it is.
  const std::vector<Entry> two = {{"a.txt", "alpha"}, {"b.txt", "beta"}};
  const size_t comment_at = ziptest::build(two).end_offset;  // where the comment will start
  auto locator = [](uint32_t disk, uint64_t offset, uint32_t disks) {
    std::string l(20, '\0');
    testkit::put32(l, 0, 0x07064B50);
    testkit::put32(l, 4, disk);
    for (int i = 0; i < 8; ++i) l[8 + i] = static_cast<char>(offset >> (8 * i));
    testkit::put32(l, 16, disks);
    return l;
  };
  // A Zip64 end record in the same comment that claims 5 entries.
  std::string record(56, '\0');
  testkit::put32(record, 0, 0x06064B50);
  record[4] = 44;
  record[24] = record[32] = 5;
  const std::string cases[] = {
      std::string(76, 'x') + locator(0, 0, 7),                     // seven disks
      std::string(76, 'x') + locator(3, 0, 1),                     // the record on another disk
      std::string(76, 'x') + locator(0, 0x123456789, 1),           // a record far past the end
      std::string(20, 'x') + record + locator(0, comment_at + 20, 1),  // a record that disagrees
  };
  for (const std::string& comment : cases) {
    std::vector<Entry> e = two;
    e[1].comment = comment;
    const ziptest::Layout layout = ziptest::build(e);
    ASSERT_EQ(layout.end_offset - 96, comment_at);
    ZipArchive* s = open_memory(layout.bytes);
    ASSERT_NE(s, nullptr) << &comment - cases;
    EXPECT_EQ(s->entry_count, 2u);
    EXPECT_EQ(go_to_entry(s, 1), kReadOk);
    EXPECT_EQ(current_name(s), "b.txt");
    EXPECT_EQ(read_entry(s, 100).data, "beta");
    close_archive(s);
  }
}

TEST(EndRecord, EmptyArchiveOpensWithNoEntries) {
  const std::string z = ziptest::build_bytes({});
  ASSERT_EQ(z.size(), 22u);
  ZipArchive* s = open_memory(z);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->entry_count, 0u);
  EXPECT_FALSE(s->entry_ok);
  EXPECT_EQ(go_to_next_entry(s), kReadListEnd);
  EXPECT_EQ(open_entry_stream(s, nullptr), kReadBadParam);
  close_archive(s);
}

TEST(EndRecord, ImpossibleRecordsAreRefused) {
  const std::vector<Entry> two = {{"a", "1"}, {"b", "2"}};
  const ziptest::Layout base = ziptest::build(two);
  auto tampered = [&](size_t field, uint32_t value, int width) {
    std::string z = base.bytes;
    if (width == 2) testkit::put16(z, base.end_offset + field, static_cast<uint16_t>(value));
    if (width == 4) testkit::put32(z, base.end_offset + field, value);
    return opens(z);
  };
  EXPECT_FALSE(tampered(4, 1, 2));            // a second disk
  EXPECT_FALSE(tampered(6, 1, 2));            // the directory on another disk
  EXPECT_FALSE(tampered(8, 1, 2));            // per-disk and total counts differ
  EXPECT_FALSE(tampered(16, 0x7FFFFFF0, 4));  // a directory that ends after the record
  EXPECT_FALSE(tampered(16, 0xFFFFFFF0, 4));  // ... even when offset + size wraps
  {
    // More entries than the directory's size can hold.
    std::string z = base.bytes;
    testkit::put16(z, base.end_offset + 8, 60000);
    testkit::put16(z, base.end_offset + 10, 60000);
    EXPECT_FALSE(opens(z));
  }
}

TEST(Reader, PrefixShiftsEveryOffset) {
  std::vector<Entry> entries = {{"first.txt", "one"}, {"second.txt", ziptest::sample(3000), 8}};
  entries[1].local_extra = std::string("ZZ\x02\x00hi", 6);
  const std::string z = ziptest::build_bytes(entries, "", std::string(12, '#'));
  ZipArchive* s = open_memory(z);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->leading_bytes, 12u);
  EXPECT_EQ(current_name(s), "first.txt");
  EXPECT_EQ(read_entry(s, 100).data, "one");
  ASSERT_EQ(go_to_next_entry(s), kReadOk);
  EXPECT_EQ(current_name(s), "second.txt");
  ASSERT_EQ(open_entry_stream(s, nullptr), kReadOk);
  const std::vector<unsigned char>& extra = s->local_header.extra;
  EXPECT_EQ(std::string(extra.begin(), extra.end()), std::string("ZZ\x02\x00hi", 6));
  close_entry_stream(s);
  ReadOutcome r = read_entry(s, 1000);
  EXPECT_EQ(r.data, entries[1].data);
  EXPECT_EQ(r.close, kReadOk);
  EXPECT_EQ(go_to_next_entry(s), kReadListEnd);
  close_archive(s);
}

TEST(Reader, HandleSourceStartsAtItsPosition) {
  testkit::ScratchDir dir;
  const std::vector<Entry> entries = {{"x.txt", "from a handle"}};
  const std::string path = dir / "joined.bin";
  ASSERT_TRUE(testkit::write_file(path, std::string(100, 'J') + ziptest::build_bytes(entries)));
  qp::Handle h = qp::open_read_shared(path.c_str());
  ASSERT_TRUE(qp::is_valid(h));
  ASSERT_EQ(qp::set_file_pointer(h, 100, qp::SeekFrom::Begin), 100u);
  ZIPRESULT err;
  ByteSource* f = open_byte_source(h, 0, ZIPSRC_HANDLE, &err);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(f->base_offset, 100u);
  ZipArchive* s = open_archive_raw(f);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->leading_bytes, 100u);
  EXPECT_EQ(read_entry(s, 4).data, "from a handle");
  close_archive(s);
  // The caller's handle stays open.
  EXPECT_EQ(qp::set_file_pointer(h, 0, qp::SeekFrom::Begin), 0u);
  qp::close_handle(h);
}

TEST(ByteSource, SeekRefusesWhatNamesNoPlace) {
  // A memory block and a handle on the same bytes, 40 of them: positions
  // from each origin, those before the start or past 2^62 refused, and an
  // origin that names none refused too instead of passing as a seek.
  testkit::ScratchDir dir;
  const std::string bytes(40, 'b'), path = dir / "forty.bin";
  ASSERT_TRUE(testkit::write_file(path, bytes));
  qp::Handle h = qp::open_read_shared(path.c_str());
  ASSERT_TRUE(qp::is_valid(h));
  ZIPRESULT err;
  ByteSourcePtr sources[] = {ByteSourcePtr(open_byte_source(bytes.data(), 40, ZIPSRC_MEMORY, &err)),
                             ByteSourcePtr(open_byte_source(h, 0, ZIPSRC_HANDLE, &err))};
  const struct {
    int64_t offset;
    qp::SeekFrom from;
    int status[2];  // for the memory block, for the handle (the system refuses)
    uint64_t at;    // the position after it
  } cases[] = {
      {10, qp::SeekFrom::Begin, {kReadOk, kReadOk}, 10},
      {5, qp::SeekFrom::Current, {kReadOk, kReadOk}, 15},
      {-20, qp::SeekFrom::Current, {kReadBadParam, kReadIoError}, 15},
      {-4, qp::SeekFrom::End, {kReadOk, kReadOk}, 36},
      {-1, qp::SeekFrom::Begin, {kReadBadParam, kReadBadParam}, 36},
      {int64_t(1) << 62 | 1, qp::SeekFrom::Begin, {kReadBadParam, kReadBadParam}, 36},
      {0, static_cast<qp::SeekFrom>(7), {kReadBadParam, kReadBadParam}, 36},
  };
  for (ByteSourcePtr& f : sources) {
    ASSERT_NE(f, nullptr);
    for (const auto& c : cases) {
      SCOPED_TRACE(testing::Message() << (f->from_handle ? "handle " : "memory ") << (&c - cases));
      EXPECT_EQ(source_seek(f.get(), c.offset, c.from), c.status[f->from_handle]);
      EXPECT_EQ(source_tell(f.get()), c.at);
    }
  }
  sources[1].reset();
  qp::close_handle(h);
}

TEST(Reader, LookupByName) {
  const std::vector<Entry> entries = {{"readme.txt", "r"}, {"Data/\xC9t\xE9.bin", "e"}, {"z[1].txt", "z"}, {"last", "l"}};
  const std::string z = ziptest::build_bytes(entries);
  ZipArchive* s = open_memory(z);
  ASSERT_NE(s, nullptr);
  EXPECT_NE(locate_entry(s, "README.TXT", 1), kReadOk);
  EXPECT_EQ(locate_entry(s, "README.TXT", 2), kReadOk);
  EXPECT_EQ(s->entry_number, 0u);
  // Only 'a'-'z' fold: not accented letters, not '[' against '{'.
  EXPECT_NE(locate_entry(s, "data/\xE9t\xE9.bin", 2), kReadOk);
  EXPECT_EQ(locate_entry(s, "data/\xC9T\xE9.BIN", 2), kReadOk);
  EXPECT_NE(locate_entry(s, "Z{1}.TXT", 2), kReadOk);

  // A failing lookup leaves the current entry as it was.
  ASSERT_EQ(locate_entry(s, "z[1].txt", 1), kReadOk);
  EXPECT_EQ(s->entry_number, 2u);
  const uint32_t offset = s->entry_record_offset;
  EXPECT_EQ(locate_entry(s, "missing", 2), kReadListEnd);
  EXPECT_EQ(s->entry_number, 2u);
  EXPECT_EQ(s->entry_record_offset, offset);
  EXPECT_EQ(current_name(s), "z[1].txt");
  ASSERT_EQ(go_to_next_entry(s), kReadOk);
  EXPECT_EQ(current_name(s), "last");

  EXPECT_EQ(locate_entry(s, std::string(256, 'n').c_str(), 1), kReadBadParam);
  EXPECT_EQ(compare_names("abc", "abcd", 2), -1);
  EXPECT_EQ(compare_names("abcd", "ABC", 2), 1);
  close_archive(s);
}

TEST(EntryStream, EncryptedStoredEntry) {
  std::vector<Entry> entries = {{"secret.bin", ziptest::sample(100, 7)}};
  entries[0].password = "pass";
  const std::string z = ziptest::build_bytes(entries);
  ZipArchive* s = open_memory(z);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->entry.compressed_size, 112u);
  ReadOutcome r = read_entry(s, 100, "pass");
  EXPECT_EQ(r.data, entries[0].data);
  EXPECT_TRUE(r.ended);
  EXPECT_EQ(r.reads, 1);  // the read that delivers the last byte sets the end flag
  EXPECT_EQ(r.close, kReadOk);

  // Wrong passwords fail at the check byte, but for one in 256 or so.
  int refused = 0;
  for (int i = 0; i < 40; ++i) {
    const std::string wrong = "wrong" + std::to_string(i);
    ReadOutcome w = read_entry(s, 100, wrong.c_str());
    if (w.last == kReadBadPassword) ++refused;
    EXPECT_NE(w.data, entries[0].data);
  }
  EXPECT_GE(refused, 38);
  EXPECT_EQ(read_entry(s, 100, nullptr).last, kReadBadPassword);
  close_archive(s);
}

TEST(EntryStream, CheckByteFollowsTheDescriptorFlag) {
  // With flag bit 3 the check byte is the high byte of the DOS time, which
  // here differs from the CRC's high byte.
  std::vector<Entry> entries = {{"d.txt", ziptest::sample(500, 3), 8}, {"c.txt", ziptest::sample(500, 4), 8}};
  entries[0].password = entries[1].password = "pw";
  entries[0].descriptor = true;
  const std::string z = ziptest::build_bytes(entries);
  ZipArchive* s = open_memory(z);
  ASSERT_NE(s, nullptr);
  ASSERT_NE((s->entry.central.dos_datetime >> 8) & 0xFF, s->entry.central.crc >> 24u);
  ReadOutcome r = read_entry(s, 64, "pw");
  EXPECT_EQ(r.data, entries[0].data);
  EXPECT_EQ(r.close, kReadOk);
  ASSERT_EQ(go_to_next_entry(s), kReadOk);
  r = read_entry(s, 64, "pw");
  EXPECT_EQ(r.data, entries[1].data);
  EXPECT_EQ(r.close, kReadOk);
  close_archive(s);
}

TEST(EntryStream, EmptyEntryAndReadsAfterTheEnd) {
  const std::vector<Entry> entries = {{"empty", ""}, {"empty-deflated", "", 8}};
  const std::string z = ziptest::build_bytes(entries);
  ZipArchive* s = open_memory(z);
  ASSERT_NE(s, nullptr);
  for (int i = 0; i < 2; ++i) {
    ASSERT_EQ(open_entry_stream(s, nullptr), kReadOk);
    char buf[8];
    bool end = false;
    EXPECT_EQ(read_entry_stream(s, buf, sizeof buf, &end), 0);
    EXPECT_TRUE(end);
    end = false;
    EXPECT_EQ(read_entry_stream(s, buf, sizeof buf, &end), 0);  // again after the end
    EXPECT_TRUE(end);
    EXPECT_EQ(close_entry_stream(s), kReadOk);
    go_to_next_entry(s);
  }
  close_archive(s);
}

TEST(EntryStream, ByteByByteEqualsOneRead) {
  const std::string data = ziptest::sample(70000, 9);
  const std::vector<Entry> entries = {{"big", data, 8}};
  const std::string z = ziptest::build_bytes(entries);
  ZipArchive* s = open_memory(z);
  ASSERT_NE(s, nullptr);
  ReadOutcome whole = read_entry(s, 100000);
  EXPECT_EQ(whole.data, data);
  EXPECT_EQ(whole.close, kReadOk);
  ReadOutcome bytes = read_entry(s, 1);
  EXPECT_EQ(bytes.data, data);
  EXPECT_EQ(bytes.reads, 70000);
  EXPECT_EQ(bytes.close, kReadOk);
  ASSERT_EQ(open_entry_stream(s, nullptr), kReadOk);
  char buf[1000];
  bool end;
  EXPECT_EQ(read_entry_stream(s, buf, sizeof buf, &end), 1000);
  EXPECT_FALSE(end);
  close_entry_stream(s);
  close_archive(s);
}

TEST(EntryStream, LocalHeaderMustAgree) {
  std::vector<Entry> entries = {{"dd.txt", "descriptor", 8}};
  entries[0].descriptor = true;  // local CRC and sizes are zero, and pass
  ziptest::Layout z = ziptest::build(entries);
  ZipArchive* s = open_memory(z.bytes);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(read_entry(s, 100).data, "descriptor");
  close_archive(s);

  const ziptest::Layout plain = ziptest::build({{"p.txt", "plain text", 8}});
  auto open_with = [&](size_t at, uint32_t value, int width) {
    std::string bytes = plain.bytes;
    if (width == 2) testkit::put16(bytes, plain.local_offsets[0] + at, static_cast<uint16_t>(value));
    if (width == 4) testkit::put32(bytes, plain.local_offsets[0] + at, value);
    ZipArchive* t = open_memory(bytes);
    int r = t ? open_entry_stream(t, nullptr) : -999;
    if (t) close_archive(t);
    return r;
  };
  EXPECT_EQ(open_with(0, 0x04034B51, 4), kReadBadArchive);  // signature
  EXPECT_EQ(open_with(8, 0, 2), kReadBadArchive);           // method differs
  EXPECT_EQ(open_with(14, 1, 4), kReadBadArchive);          // CRC differs
  EXPECT_EQ(open_with(18, 1, 4), kReadBadArchive);          // compressed size
  EXPECT_EQ(open_with(22, 1, 4), kReadBadArchive);          // uncompressed size
  EXPECT_EQ(open_with(26, 4, 2), kReadBadArchive);          // name length
  EXPECT_EQ(open_with(28, 0, 2), kReadOk);                  // extra length is free
}

TEST(EntryStream, DamagedEntriesFailInsteadOfPassingAsComplete) {
  // A deflated stream that ends before the announced size.
  ziptest::Layout z = ziptest::build({{"short.txt", ziptest::sample(5000), 8}});
  testkit::put32(z.bytes, z.local_offsets[0] + 22, 6000);
  testkit::put32(z.bytes, z.central_offsets[0] + 24, 6000);
  ZipArchive* s = open_memory(z.bytes);
  ASSERT_NE(s, nullptr);
  ReadOutcome r = read_entry(s, 16384);
  EXPECT_FALSE(r.ended);
  EXPECT_LT(r.last, 0);
  close_archive(s);

  // Stored data shorter than announced is refused at the open.
  z = ziptest::build({{"stored.txt", "0123456789"}});
  testkit::put32(z.bytes, z.local_offsets[0] + 22, 20);
  testkit::put32(z.bytes, z.central_offsets[0] + 24, 20);
  s = open_memory(z.bytes);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(open_entry_stream(s, nullptr), kReadBadArchive);
  close_archive(s);

  // A CRC that does not match is the close's verdict.
  z = ziptest::build({{"crc.txt", "checked"}});
  testkit::put32(z.bytes, z.local_offsets[0] + 14, 0x12345678);
  testkit::put32(z.bytes, z.central_offsets[0] + 16, 0x12345678);
  s = open_memory(z.bytes);
  ASSERT_NE(s, nullptr);
  r = read_entry(s, 100);
  EXPECT_EQ(r.data, "checked");
  EXPECT_EQ(r.close, kReadCrcMismatch);
  close_archive(s);

  // Compressed data that claims far more input than there is runs into the
  // directory and past the end of the source: refused at the open.
  ziptest::Layout whole = ziptest::build({{"cut.bin", ziptest::sample(40000), 8}});
  std::string cut = whole.bytes;
  testkit::put32(cut, whole.central_offsets[0] + 20, 0x7FFFFFF0);
  testkit::put32(cut, whole.local_offsets[0] + 18, 0x7FFFFFF0);
  s = open_memory(cut);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(open_entry_stream(s, nullptr), kReadBadArchive);
  close_archive(s);
}

TEST(Robustness, TruncatedAndFlippedArchivesNeverCrash) {
  std::vector<Entry> entries = {{"a/b.txt", ziptest::sample(3000, 1), 8}, {"c.bin", ziptest::sample(200, 2)},
                                {"e.txt", ziptest::sample(900, 3), 8}};
  entries[1].password = "pw";
  entries[2].local_extra = ziptest::ut_block(1, {1700000000});
  const std::string z = ziptest::build_bytes(entries, "comment");
  auto exercise = [](const std::string& bytes) {
    ZipArchive* s = open_memory(bytes);
    if (s == nullptr) return;
    for (int i = 0; i < 8; ++i) {
      char name[64];
      read_entry_record(s, nullptr, name, sizeof name, nullptr, 0, nullptr, 0);
      if (open_entry_stream(s, "pw") == kReadOk) {
        char buf[700];
        bool end = false;
        for (int k = 0; k < 100 && !end; ++k)
          if (read_entry_stream(s, buf, sizeof buf, &end) <= 0) break;
        close_entry_stream(s);
      }
      if (go_to_next_entry(s) != kReadOk) break;
    }
    char comment[16];
    read_archive_comment(s, comment, sizeof comment);
    close_archive(s);
  };
  for (size_t n = 0; n <= z.size(); ++n) exercise(z.substr(0, n));
  for (size_t i = 0; i < z.size(); ++i) {
    std::string flipped = z;
    flipped[i] = static_cast<char>(flipped[i] ^ 0xA5);
    exercise(flipped);
  }
}
