// The writer at the exact edges of its fields: the last size and offset a
// classic field holds (0xFFFFFFFE) and the first that goes to Zip64, the
// last item count the end record holds (65,534), names that fill the name
// field, and dates around century years and in every month.
#include <gtest/gtest.h>

#include <cstdio>
#include <vector>

#include "platform/file.h"
#include "platform/fileinfo.h"
#include "support/testkit.h"
#include "support/zip_builder.h"
#include "support/zip_parse.h"
#include "zip/api/close_handle.h"
#include "zip/format/dos_time.h"
#include "zip/format/records.h"
#include "zip/read/reader.h"
#include "zip/write/writer.h"

using namespace quillon;
using testkit::ScratchDir;

namespace {

// The bytes of a file from `from` to its end.
std::string tail_of(const std::string& path, uint64_t from) {
  qp::Handle h = qp::open_read_shared(path.c_str());
  std::string bytes;
  if (!qp::is_valid(h)) return bytes;
  if (qp::seek_file(h, int64_t(from), qp::SeekFrom::Begin) == from) {
    char buf[4096];
    uint32_t got = 0;
    while (qp::read_file(h, buf, sizeof buf, &got) && got > 0) bytes.append(buf, got);
  }
  qp::close_handle(h);
  return bytes;
}

const unsigned char* at(const std::string& s, uint64_t i) { return reinterpret_cast<const unsigned char*>(s.data()) + i; }

// The values of the Zip64 block (tag 1) in an extra field, in order.
std::vector<uint64_t> zip64_values(const std::string& extra) {
  std::vector<uint64_t> v;
  for (size_t p = 0; p + 4 <= extra.size();) {
    const uint32_t tag = get16(at(extra, p)), len = get16(at(extra, p + 2));
    if (tag == kZip64ExtraId)
      for (uint32_t k = 0; k + 8 <= len; k += 8) v.push_back(get64(at(extra, p + 4 + k)));
    p += 4 + len;
  }
  return v;
}

}  // namespace

// An item's sizes go into a Zip64 block when what it may grow to passes
// 0xFFFFFFFE. No test can feed 4 GiB, but the decision is taken on the size
// announced before the data: a pipe that announces a length and then
// delivers three bytes fails the item, and its local header (rewritten with
// what arrived, in the form first chosen) stays at the start of the block.
TEST(WriterBoundaries, SizesAtTheLastClassicValue) {
  struct Case {
    const char* name;
    const char* password;
    uint32_t announced;
    bool zip64;
  };
  // A deflated item may grow to size + size / 128 + 1024: 4,261,671,958
  // bytes may reach exactly 0xFFFFFFFE. A stored one with a password
  // carries its 12-byte encryption header in its compressed size.
  const Case cases[] = {
      {"s.zip", nullptr, 0xFFFFFFFEu, false},       {"s.zip", nullptr, 0xFFFFFFFFu, true},
      {"d.txt", nullptr, 4261671958u, false},       {"d.txt", nullptr, 4261671959u, true},
      {"e.zip", "pw", 0xFFFFFFFEu - 12, false},     {"e.zip", "pw", 0xFFFFFFFFu - 12, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.announced));
    std::vector<char> block(1 << 16);
    HZIP hz = CreateZip(block.data(), uint32_t(block.size()), c.password);
    ASSERT_NE(hz, nullptr);
    {
      testkit::PipeFeed feed("abc");
      EXPECT_NE(ZipAddHandle(hz, c.name, feed.read_end(), c.announced), ZIPR_OK);
    }
    const std::string bytes = ziptest::finish_memory(hz);
    LocalHeader l;
    ASSERT_TRUE(l.decode(at(bytes, 0), bytes.size()));
    EXPECT_EQ(l.version_needed, c.zip64 ? 45 : 20);
    EXPECT_EQ(l.extra_length, c.zip64 ? 17 + 20 : 17);
    EXPECT_EQ(l.uncompressed_size == kZip64Marker, c.zip64);
    EXPECT_EQ(l.compressed_size == kZip64Marker, c.zip64);
    const std::string extra = bytes.substr(LocalHeader::kSize + l.name_length, l.extra_length);
    EXPECT_EQ(zip64_values(extra).size(), c.zip64 ? 2u : 0u);
  }
}

// Offsets: a handle output that stands at P before the archive starts (a
// sparse file: the hole costs nothing) puts the first local header, or the
// directory of an empty archive, at P. At 0xFFFFFFFE the classic field holds
// it; from 0xFFFFFFFF on (which would read as the marker) the Zip64 records
// do. The archive reads back either way.
TEST(WriterBoundaries, OffsetsAtTheLastClassicValue) {
  struct Case {
    uint64_t start;
    bool item;
  };
  const Case cases[] = {{0xFFFFFFFEu, true},  {0xFFFFFFFFu, true},  {0x100000000u, true},
                        {0xFFFFFFFEu, false}, {0xFFFFFFFFu, false}, {0x100000000u, false}};
  ScratchDir dir;
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.start) + (c.item ? " item" : " empty"));
    const std::string path = dir / "sparse.zip";
    qp::delete_file(path.c_str());
    qp::Handle h = qp::open_read_write(path.c_str());
    ASSERT_TRUE(qp::is_valid(h));
    ASSERT_EQ(qp::seek_file(h, int64_t(c.start), qp::SeekFrom::Begin), c.start);
    HZIP hz = CreateZipHandle(h, nullptr);
    ASSERT_NE(hz, nullptr);
    if (c.item) {
      ASSERT_EQ(ZipAdd(hz, "x.txt", "hello", 5), ZIPR_OK);
    }
    ASSERT_EQ(CloseZipZ(hz), ZIPR_OK);
    qp::close_handle(h);

    const std::string t = tail_of(path, c.start);
    ASSERT_GE(t.size(), EndRecord::kSize);
    EndRecord end;
    ASSERT_TRUE(end.decode(at(t, t.size() - EndRecord::kSize), EndRecord::kSize));
    uint64_t directory = end.directory_offset;
    Zip64EndLocator locator;
    const bool has_locator = t.size() >= EndRecord::kSize + Zip64EndLocator::kSize &&
                             locator.decode(at(t, t.size() - EndRecord::kSize - Zip64EndLocator::kSize),
                                            Zip64EndLocator::kSize);
    if (c.item) {
      // The item's offset field; the directory then lies past 0xFFFFFFFE anyway.
      const bool far = c.start > 0xFFFFFFFEu;
      ASSERT_TRUE(has_locator);
      Zip64EndRecord end64;
      ASSERT_TRUE(end64.decode(at(t, locator.end_record_offset - c.start), Zip64EndRecord::kSize));
      directory = end64.directory_offset;
      CentralRecord r;
      ASSERT_TRUE(r.decode(at(t, directory - c.start), t.size() - (directory - c.start)));
      EXPECT_EQ(r.version_needed, far ? 45 : 20);
      EXPECT_EQ(r.local_header_offset, far ? kZip64Marker : uint32_t(c.start));
      const std::string extra = t.substr(directory - c.start + CentralRecord::kSize + r.name_length, r.extra_length);
      EXPECT_EQ(zip64_values(extra), far ? std::vector<uint64_t>{c.start} : std::vector<uint64_t>{});
    } else {
      // The empty directory starts at P: Zip64 end records only past 0xFFFFFFFE.
      const bool far = c.start > 0xFFFFFFFEu;
      EXPECT_EQ(has_locator, far);
      EXPECT_EQ(end.directory_offset, far ? kZip64Marker : uint32_t(c.start));
      EXPECT_EQ(t.size(), far ? 22u + 56 + 20 : 22u);
    }

    HZIP u = OpenZip(path.c_str(), nullptr);
    ASSERT_NE(u, nullptr);
    ZIPENTRY ze;
    ASSERT_EQ(GetZipItem(u, -1, &ze), ZIPR_OK);
    EXPECT_EQ(ze.index, c.item ? 1 : 0);
    if (c.item) {
      char out[16] = {};
      ASSERT_EQ(GetZipItem(u, 0, &ze), ZIPR_OK);
      EXPECT_STREQ(ze.name, "x.txt");
      EXPECT_EQ(UnzipItem(u, 0, out, sizeof out), ZIPR_OK);
      EXPECT_STREQ(out, "hello");
    }
    CloseZipU(u);
  }
  qp::delete_file((dir / "sparse.zip").c_str());
}

// The end record's 16-bit counts hold up to 65,534 items; from 65,535 on
// they read 0xFFFF and the Zip64 end record holds the count.
TEST(WriterBoundaries, ItemCountsAroundTheSixteenBitField) {
  for (const uint32_t items : {65534u, 65535u, 65536u}) {
    SCOPED_TRACE(items);
    HZIP hz = CreateZip(nullptr, 16u << 20, nullptr);
    ASSERT_NE(hz, nullptr);
    char name[16];
    for (uint32_t i = 0; i < items; ++i) {
      std::snprintf(name, sizeof name, "%05x", i);
      ASSERT_EQ(ZipAddFolder(hz, name), ZIPR_OK) << i;
    }
    const ztest::Archive a = ztest::parse(ziptest::finish_memory(hz));
    ASSERT_EQ(a.error, "");
    EXPECT_EQ(a.entries.size(), items);
    const bool zip64 = items > 65534;
    EXPECT_EQ(a.count_disk, zip64 ? 0xFFFFu : items);
    EXPECT_EQ(a.count_total, zip64 ? 0xFFFFu : items);
    ASSERT_EQ(a.has_zip64_end, zip64);
    if (zip64) {
      EXPECT_EQ(a.zip64_count_total, items);
      EXPECT_EQ(a.zip64_count_disk, items);
    }
  }
}

// Names are cut to 259 characters (a folder gets its slash after that):
// bytes of a name that is not UTF-8, code points of one that is.
TEST(WriterBoundaries, NamesAroundTheLongestKept) {
  const std::string e_acute = "\xC3\xA9";
#ifdef _WIN32
  // Names come in the ANSI code page there: the Western page's byte for it.
  const std::string given_e = "\xE9";
#else
  const std::string given_e = e_acute;
#endif
  auto times = [](const std::string& s, size_t n) {
    std::string r;
    for (size_t i = 0; i < n; ++i) r += s;
    return r;
  };
  struct Case {
    std::string given;
    bool folder;
    std::string stored;
  };
  const Case cases[] = {
      {std::string(258, 'a'), false, std::string(258, 'a')},
      {std::string(259, 'a'), false, std::string(259, 'a')},
      {std::string(260, 'a'), false, std::string(259, 'a')},
      {std::string(261, 'a'), false, std::string(259, 'a')},
      {std::string(258, 'f'), true, std::string(258, 'f') + "/"},
      {std::string(259, 'f'), true, std::string(259, 'f') + "/"},
      {std::string(260, 'f'), true, std::string(259, 'f') + "/"},
      {std::string(259, 'f') + "/", true, std::string(259, 'f') + "/"},
      {times(given_e, 259), false, times(e_acute, 259)},
      {times(given_e, 260), false, times(e_acute, 259)},
      {std::string(258, 'a') + given_e + "b", false, std::string(258, 'a') + e_acute},
  };
  HZIP hz = CreateZip(nullptr, 1 << 20, nullptr);
  ASSERT_NE(hz, nullptr);
  for (const Case& c : cases) {
    ASSERT_EQ(c.folder ? ZipAddFolder(hz, c.given.c_str()) : ZipAdd(hz, c.given.c_str(), "x", 1), ZIPR_OK);
  }
  const ztest::Archive a = ztest::parse(ziptest::finish_memory(hz));
  ASSERT_EQ(a.error, "");
  ASSERT_EQ(a.entries.size(), sizeof cases / sizeof cases[0]);
  for (size_t i = 0; i < a.entries.size(); ++i) {
    EXPECT_EQ(a.entries[i].name, cases[i].stored) << i;
    EXPECT_EQ(a.entries[i].l_name, cases[i].stored) << i;
  }
}

// A file's modification time (UTC) becomes the DOS stamp's calendar fields
// and the "UT" block's Unix seconds. Feb 29 exists in 2000, 2096 and 2104,
// not in 2100; every month keeps its number (the DOS month has four bits).
// The expected ticks and seconds are Python's datetime arithmetic.
TEST(WriterBoundaries, DatesAroundCenturiesAndEveryMonth) {
  struct Case {
    uint32_t year, month, day;
    uint64_t ticks;  // 12:34:56 UTC that day, 100-ns ticks since 1601
    uint32_t unix_seconds;
  };
  const Case cases[] = {
      {2000, 2, 28, 125962148960000000ULL, 951741296u},   {2000, 2, 29, 125963012960000000ULL, 951827696u},
      {2000, 3, 1, 125963876960000000ULL, 951914096u},    {2096, 2, 28, 156257444960000000ULL, 3981270896u},
      {2096, 2, 29, 156258308960000000ULL, 3981357296u},  {2096, 3, 1, 156259172960000000ULL, 3981443696u},
      {2100, 2, 28, 157519748960000000ULL, 4107501296u},  {2100, 3, 1, 157520612960000000ULL, 4107587696u},
      {2104, 2, 28, 158781188960000000ULL, 4233645296u},  {2104, 2, 29, 158782052960000000ULL, 4233731696u},
      {2104, 3, 1, 158782916960000000ULL, 4233818096u},   {2024, 1, 31, 133511780960000000ULL, 1706704496u},
      {2024, 2, 29, 133536836960000000ULL, 1709210096u},  {2024, 3, 31, 133563620960000000ULL, 1711888496u},
      {2024, 4, 30, 133589540960000000ULL, 1714480496u},  {2024, 5, 31, 133616324960000000ULL, 1717158896u},
      {2024, 6, 30, 133642244960000000ULL, 1719750896u},  {2024, 7, 31, 133669028960000000ULL, 1722429296u},
      {2024, 8, 31, 133695812960000000ULL, 1725107696u},  {2024, 9, 30, 133721732960000000ULL, 1727699696u},
      {2024, 10, 31, 133748516960000000ULL, 1730378096u}, {2024, 11, 30, 133774436960000000ULL, 1732970096u},
      {2024, 12, 31, 133801220960000000ULL, 1735648496u}, {2023, 3, 1, 133221476960000000ULL, 1677674096u},
  };
  ScratchDir dir;
  HZIP hz = CreateZip(nullptr, 1 << 20, nullptr);
  ASSERT_NE(hz, nullptr);
  for (const Case& c : cases) {
    const std::string path = dir / (std::to_string(c.year) + "-" + std::to_string(c.month) + ".txt");
    qp::Handle h = qp::open_read_write(path.c_str());
    ASSERT_TRUE(qp::is_valid(h));
    ASSERT_TRUE(qp::set_file_times(h, nullptr, &c.ticks, &c.ticks));
    qp::close_handle(h);
    ASSERT_EQ(ZipAdd(hz, path.substr(dir.path().size()).c_str(), path.c_str()), ZIPR_OK);
  }
  const ztest::Archive a = ztest::parse(ziptest::finish_memory(hz));
  ASSERT_EQ(a.error, "");
  ASSERT_EQ(a.entries.size(), sizeof cases / sizeof cases[0]);
  for (size_t i = 0; i < a.entries.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(a.entries[i].name);
    const DosDateTime dos = DosDateTime::from_stamp(a.entries[i].stamp);
    EXPECT_EQ(dos.year, c.year);
    EXPECT_EQ(dos.month, c.month);
    EXPECT_EQ(dos.day, c.day);
    EXPECT_EQ(dos.hour * 3600 + dos.minute * 60 + dos.second, 12u * 3600 + 34 * 60 + 56);
    EXPECT_EQ(a.entries[i].stamp, ((c.year - 1980) << 9 | c.month << 5 | c.day) << 16 | (12u << 11 | 34u << 5 | 28u));
    EXPECT_EQ(testkit::get32(a.entries[i].central_extra, 5), c.unix_seconds);
  }
}
