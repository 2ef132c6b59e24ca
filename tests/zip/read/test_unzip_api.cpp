// The reading API and the UNZIP export on hand-built archives.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "platform/dir.h"
#include "platform/fileinfo.h"
#include "platform/pathname.h"
#include "platform/time.h"
#include "quillon.h"
#include "support/testkit.h"
#include "support/zip_builder.h"
#include "zip/api/close_handle.h"
#include "zip/format/dos_time.h"
#include "zip/format/records.h"
#include "zip/api/unzip_export.h"
#include "zip/read/reader.h"

using namespace quillon;
using ziptest::Entry;

namespace {

uint64_t ft(const ZipFileTime& t) { return uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime; }

uint64_t dos_as_utc(uint32_t dos_datetime) {
  const uint64_t local = file_time_of_dos_stamp(dos_datetime);
  uint64_t utc = 0;
  qp::local_file_time_to_file_time(local, &utc);
  return utc;
}

bool contains(const std::vector<std::string>& v, const std::string& s) {
  return std::find(v.begin(), v.end(), s) != v.end();
}

ArchiveReader* object_of(HZIP h) { return static_cast<ArchiveReader*>(h->object); }

}  // namespace

TEST(UnzipApi, CountQueryAndIndexRange) {
  const std::string z = ziptest::build_bytes({{"a", "1"}, {"b", "22"}, {"c", "333"}});
  HZIP h = OpenZip(z.data(), static_cast<uint32_t>(z.size()), nullptr);
  ASSERT_NE(h, nullptr);
  EXPECT_TRUE(IsZipHandleU(h));
  ZIPENTRY ze;
  std::memset(&ze, 0x55, sizeof ze);
  EXPECT_EQ(GetZipItem(h, -1, &ze), ZIPR_OK);
  EXPECT_EQ(ze.index, 3);
  EXPECT_STREQ(ze.name, "");
  EXPECT_EQ(ze.attributes, 0u);
  EXPECT_EQ(ft(ze.modify_time), 0u);
  EXPECT_EQ(ze.uncompressed_size, 0u);
  EXPECT_EQ(GetZipItem(h, 3, &ze), ZIPR_BADARGS);
  EXPECT_EQ(lasterrorU, ZIPR_BADARGS);
  EXPECT_EQ(GetZipItem(h, -2, &ze), ZIPR_BADARGS);
  // Out of order: each entry is reached directly.
  EXPECT_EQ(GetZipItem(h, 2, &ze), ZIPR_OK);
  EXPECT_STREQ(ze.name, "c");
  EXPECT_EQ(GetZipItem(h, 0, &ze), ZIPR_OK);
  EXPECT_STREQ(ze.name, "a");
  EXPECT_EQ(GetZipItem(h, 1, &ze), ZIPR_OK);
  EXPECT_STREQ(ze.name, "b");
  EXPECT_EQ(ze.uncompressed_size, 2u);
  EXPECT_EQ(lasterrorU, ZIPR_OK);
  EXPECT_EQ(CloseZipU(h), ZIPR_OK);

  // Not an archive: the open fails as such, not as a corrupt archive.
  const std::string junk(3000, 'j');
  EXPECT_EQ(OpenZip(junk.data(), static_cast<uint32_t>(junk.size()), nullptr), nullptr);
  EXPECT_EQ(lasterrorU, ZIPR_OPENFAILED);
  EXPECT_EQ(OpenZip("no-such-archive.zip", nullptr), nullptr);
  EXPECT_EQ(lasterrorU, ZIPR_OPENFAILED);
  EXPECT_EQ(OpenZipInternal(z.data(), 0, 7, nullptr), nullptr);
  EXPECT_EQ(lasterrorU, ZIPR_BADARGS);
}

TEST(UnzipApi, AttributesFollowTheHostSystem) {
  std::vector<Entry> e = {{"unixdir/", ""}, {"ro.txt", "r"},   {"dos.txt", "d"},
                          {"ntfs/", ""},    {"zero", "z"},     {"blockdev", "b"}, {"socket", "s"}};
  e[0].external = 0x41ED0000;
  e[1].external = 0x81240000;
  e[2].version_made_by = 0x0014;  // MS-DOS
  e[2].external = 0x27;
  e[3].version_made_by = 0x0B14;  // NTFS
  e[3].external = 0x10;
  e[4].external = 0;  // Unix host without a mode: no owner-write bit
  // Types that share the directory's bit (0060644, 0140755) are files.
  e[5].external = 0x61A40000;
  e[6].external = 0xC1ED0000;
  const std::string z = ziptest::build_bytes(e);
  HZIP h = OpenZip(z.data(), static_cast<uint32_t>(z.size()), nullptr);
  ASSERT_NE(h, nullptr);
  const uint32_t expected[] = {0x30, 0x21, 0x27, 0x10, 0x21, 0x20, 0x20};
  for (int i = 0; i < 7; ++i) {
    ZIPENTRY ze;
    ASSERT_EQ(GetZipItem(h, i, &ze), ZIPR_OK);
    EXPECT_EQ(ze.attributes, expected[i]) << i;
  }
  CloseZipU(h);
}

// Each time comes from the first source that holds it: the local "UT"
// block, the central one, the NTFS block, the 0x5855 block (each in the
// local header before the central record), the DOS stamp. A block too short
// for its times gives none of them, and no time is read past a block's own
// length.
TEST(UnzipApi, TimesFromDosFieldsAndExtraBlocks) {
  const uint32_t t = 1600000000;
  const uint64_t u0 = file_time_of_unix_time(t), u1 = file_time_of_unix_time(t + 100),
                 u2 = file_time_of_unix_time(t + 200);
  // NTFS times keep 100-ns ticks.
  const uint64_t n0 = u0 + 1234567, n1 = u1 + 7654321, n2 = u2 + 5;
  auto ntfs = [](uint64_t m, uint64_t a, uint64_t c) {
    NtfsExtra x;
    x.modification_time = m, x.access_time = a, x.creation_time = c;
    unsigned char b[NtfsExtra::kSize];
    return std::string(reinterpret_cast<char*>(b), x.encode(b));
  };
  auto ux = [](uint32_t a, uint32_t m, bool ids) {
    InfoZipUnixExtra x;
    x.access_time = a, x.modification_time = m, x.has_ids = ids, x.uid = 501, x.gid = 20;
    unsigned char b[InfoZipUnixExtra::kMaxSize];
    return std::string(reinterpret_cast<char*>(b), x.encode(b));
  };
  // A foreign block of 300 data bytes.
  std::string foreign = "XY";
  foreign += static_cast<char>(300 & 0xFF);
  foreign += static_cast<char>(300 >> 8);
  foreign += std::string(300, 'f');
  // Attribute 1 announces 40 bytes, more than the block's 32.
  std::string overrun = ntfs(n0, n1, n2);
  overrun[10] = 40;
  const uint64_t kDos = 0;  // the entry's DOS stamp, read as local time
  struct Case {
    const char* name;
    std::string local, central;
    uint64_t modify, access, create;
    uint32_t dos = 0x59A16C21;
  };
  const Case cases[] = {
      {"dos", "", "", kDos, kDos, kDos},
      {"ut-mtime-only", foreign + ziptest::ut_block(1, {t}), "", u0, kDos, kDos},
      {"ut-all-three", ziptest::ut_block(7, {t, t + 100, t + 200}), "", u0, u1, u2},
      // Flags announce three times, but the field ends after the first.
      {"ut-cut", ziptest::ut_block(7, {t}), "", u0, kDos, kDos},
      {"ut-central", "", ziptest::ut_block(1, {t}), u0, kDos, kDos},
      {"ut-local-first", ziptest::ut_block(7, {t, t + 100, t + 200}), ziptest::ut_block(7, {t + 500}), u0, u1, u2},
      // 7-Zip: NTFS in the central record only, 0 for the access time.
      {"ntfs-central", "", ntfs(n0, 0, n2), n0, kDos, n2},
      {"ntfs-local", ntfs(n0, n1, n2), "", n0, n1, n2},
      {"ut-over-ntfs", ziptest::ut_block(1, {t}), ntfs(n2, n1, n2), u0, n1, n2},
      // The "UT" block holds its modification time only, though its flags
      // name three: the NTFS block after it is no part of it.
      {"ut-then-ntfs", ziptest::ut_block(7, {t}) + ntfs(n2, n1, n2), "", u0, n1, n2},
      {"ntfs-over-unix", ux(t + 300, t + 400, true), ntfs(n0, n1, n2), n0, n1, n2},
      {"unix-local", ux(t + 100, t, true), "", u0, u1, kDos},
      {"unix-central", "", ux(t + 100, t, false), u0, u1, kDos},
      {"ntfs-overrun-then-unix", overrun + ux(t + 100, t, true), "", u0, u1, kDos},
      {"ntfs-unset-and-invalid", ntfs(0, uint64_t(1) << 63, n2) + ux(t + 100, t, false), "", u0, u1, n2},
      {"unix-short", std::string("UX\x06\x00", 4) + ux(t + 100, t, false).substr(4, 6), "", kDos, kDos, kDos},
      {"bad-date", "", "", dos_as_utc(0x00210000), kDos, kDos, 0x00000000},  // month 0: 1980-01-01 00:00
  };
  std::vector<Entry> e;
  for (const Case& c : cases) {
    e.emplace_back(c.name, c.name);
    e.back().local_extra = c.local;
    e.back().central_extra = c.central;
    e.back().dos_datetime = c.dos;
  }
  const std::string z = ziptest::build_bytes(e);
  HZIP h = OpenZip(z.data(), static_cast<uint32_t>(z.size()), nullptr);
  ASSERT_NE(h, nullptr);
  for (int i = 0; i < static_cast<int>(e.size()); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    const uint64_t dos = dos_as_utc(c.dos);
    ZIPENTRY ze;
    ASSERT_EQ(GetZipItem(h, i, &ze), ZIPR_OK);
    EXPECT_EQ(ft(ze.modify_time), c.modify == kDos ? dos : c.modify);
    EXPECT_EQ(ft(ze.access_time), c.access == kDos ? dos : c.access);
    EXPECT_EQ(ft(ze.create_time), c.create == kDos ? dos : c.create);
  }
  CloseZipU(h);
}

TEST(UnzipApi, MemoryExtractionInPieces) {
  const std::string big = ziptest::sample(40000, 5);
  const std::string z = ziptest::build_bytes({{"deflated", big, 8}, {"stored", big}});
  HZIP h = OpenZip(z.data(), static_cast<uint32_t>(z.size()), nullptr);
  ASSERT_NE(h, nullptr);
  for (int index = 0; index < 2; ++index) {
    std::string got;
    std::vector<char> block(16384);
    EXPECT_EQ(UnzipItem(h, index, block.data(), 16384), ZIPR_MOREDATA);
    got.append(block.data(), 16384);
    EXPECT_EQ(UnzipItem(h, index, block.data(), 16384), ZIPR_MOREDATA);
    got.append(block.data(), 16384);
    EXPECT_EQ(UnzipItem(h, index, block.data(), 16384), ZIPR_OK);
    got.append(block.data(), 7232);
    EXPECT_EQ(got, big);
  }
  // The item can be taken again: the call after the end starts it over.
  {
    std::vector<char> block(40001);
    EXPECT_EQ(UnzipItem(h, 1, block.data(), 40001), ZIPR_OK);
    EXPECT_EQ(std::string(block.data(), 40000), big);
    std::fill(block.begin(), block.end(), 0);
    EXPECT_EQ(UnzipItem(h, 1, block.data(), 40001), ZIPR_OK);
    EXPECT_EQ(std::string(block.data(), 40000), big);
  }
  // A stream closed midway (by a description) starts again from the top.
  std::vector<char> block(1000);
  EXPECT_EQ(UnzipItem(h, 0, block.data(), 1000), ZIPR_MOREDATA);
  ZIPENTRY ze;
  GetZipItem(h, 1, &ze);
  EXPECT_EQ(UnzipItem(h, 0, block.data(), 1000), ZIPR_MOREDATA);
  EXPECT_EQ(std::string(block.data(), 1000), big.substr(0, 1000));
  EXPECT_EQ(UnzipItem(h, 0, nullptr, 10), ZIPR_BADARGS);
  EXPECT_EQ(UnzipItem(h, 2, block.data(), 1000), ZIPR_BADARGS);
  EXPECT_EQ(UnzipItem(h, -1, block.data(), 1000), ZIPR_BADARGS);
  CloseZipU(h);
}

TEST(UnzipApi, FilesTimesAndPasswords) {
  testkit::ScratchDir dir;
  std::vector<Entry> e = {{"empty.txt", ""},
                          {"locked.bin", ziptest::sample(3000, 2), 8},
                          {"sub/ro.txt", "read only"},
                          {"void/locked-empty.txt", ""}};
  e[1].password = "secret";
  e[2].external = 0x81240000;
  e[3].password = "secret";
  const std::string archive = dir / "a.zip";
  ASSERT_TRUE(testkit::write_file(archive, ziptest::build_bytes(e)));

  HZIP h = OpenZip(archive.c_str(), nullptr);
  ASSERT_NE(h, nullptr);
  const std::string out = dir / "out";
  EXPECT_EQ(SetUnzipBaseDir(h, out.c_str()), ZIPR_OK);
  ZIPENTRY ze;
  ASSERT_EQ(GetZipItem(h, 0, &ze), ZIPR_OK);
  EXPECT_EQ(UnzipItem(h, 0, ze.name), ZIPR_OK);
  qp::FileInfo info;
  ASSERT_TRUE(testkit::file_info(out + "/empty.txt", &info));
  EXPECT_EQ(info.size, 0u);
  EXPECT_EQ(info.write_time, ft(ze.modify_time));

  // Without the password: refused at the check byte, before any byte, so
  // no file is made (an empty one would pass for a real empty file); nor
  // is an existing file of that name touched.
  EXPECT_EQ(UnzipItem(h, 1, "locked.bin"), ZIPR_PASSWORD);
  EXPECT_EQ(lasterrorU, ZIPR_PASSWORD);
  EXPECT_FALSE(testkit::exists(out + "/locked.bin"));
  EXPECT_EQ(UnzipItem(h, 1, "sub/locked.bin"), ZIPR_PASSWORD);
  EXPECT_FALSE(testkit::exists(out + "/sub"));
  ASSERT_TRUE(testkit::write_file(out + "/kept.bin", "kept"));
  EXPECT_EQ(UnzipItem(h, 1, "kept.bin"), ZIPR_PASSWORD);
  EXPECT_EQ(testkit::read_file(out + "/kept.bin"), "kept");
  // An encrypted item without bytes still has its header to check.
  EXPECT_EQ(UnzipItem(h, 3, "void/locked-empty.txt"), ZIPR_PASSWORD);
  EXPECT_FALSE(testkit::exists(out + "/void"));

  ASSERT_EQ(GetZipItem(h, 2, &ze), ZIPR_OK);
  EXPECT_EQ(UnzipItem(h, 2, ze.name), ZIPR_OK);
  EXPECT_EQ(testkit::read_file(out + "/sub/ro.txt"), "read only");
  EXPECT_NE(qp::get_file_attributes((out + "/sub/ro.txt").c_str()) & qp::kAttrReadOnly, 0u);
  EXPECT_EQ(CloseZipU(h), ZIPR_OK);

  h = OpenZip(archive.c_str(), "secret");
  ASSERT_NE(h, nullptr);
  SetUnzipBaseDir(h, out.c_str());
  EXPECT_EQ(UnzipItem(h, 1, "locked.bin"), ZIPR_OK);
  EXPECT_EQ(testkit::read_file(out + "/locked.bin"), e[1].data);
  EXPECT_EQ(UnzipItem(h, 3, "void/locked-empty.txt"), ZIPR_OK);
  EXPECT_EQ(testkit::read_file(out + "/void/locked-empty.txt"), "");
  CloseZipU(h);
}

TEST(UnzipApi, ADamagedRecordHidesOnlyItsOwnEntry) {
  // good1, bad, good2, where bad's Zip64 block gives an offset or a
  // compressed size of 2^63 (no place in any file) or of 2^61 (past the
  // end): its lengths are readable, so the walk steps over it.
  for (size_t field : {size_t(42), size_t(20)}) {
    for (uint64_t value : {uint64_t(1) << 63, uint64_t(1) << 61}) {
      std::vector<Entry> e = {{"good1.txt", "one"}, {"bad.txt", "bad"}, {"good2.txt", "two"}};
      std::string block = std::string("\x01\x00\x08\x00", 4) + std::string(8, '\0');
      for (int i = 0; i < 8; ++i) block[4 + i] = static_cast<char>(value >> (8 * i));
      e[1].central_extra = block;
      ziptest::Layout layout = ziptest::build(e);
      testkit::put32(layout.bytes, layout.central_offsets[1] + field, 0xFFFFFFFFu);
      testkit::ScratchDir dir;
      ASSERT_TRUE(testkit::write_file(dir / "a.zip", layout.bytes));
      HZIP h = OpenZip((dir / "a.zip").c_str(), nullptr);
      ASSERT_NE(h, nullptr);
      ZIPENTRY ze;
      EXPECT_EQ(GetZipItem(h, 2, &ze), ZIPR_OK);
      EXPECT_STREQ(ze.name, "good2.txt");
      EXPECT_NE(GetZipItem(h, 1, &ze), ZIPR_OK);
      int index = -1;
      EXPECT_EQ(FindZipItem(h, "good2.txt", false, &index, &ze), ZIPR_OK);
      EXPECT_EQ(index, 2);
      CloseZipU(h);
      for (unsigned threads : {1u, 8u}) {
        const std::string out = dir / ("out" + std::to_string(threads));
        unzip_archive((dir / "a.zip").c_str(), out.c_str(), threads);
        EXPECT_EQ(testkit::read_file(out + "/good1.txt"), "one") << field << " " << value;
        EXPECT_EQ(testkit::read_file(out + "/good2.txt"), "two") << field << " " << value << " " << threads;
        EXPECT_FALSE(testkit::exists(out + "/bad.txt"));
      }
    }
  }
}

TEST(UnzipApi, DamagedBytesStayWithTheirTimes) {
  testkit::ScratchDir dir;
  std::vector<Entry> e = {{"damaged.txt", "bytes that miss their CRC"}};
  e[0].local_extra = ziptest::ut_block(3, {1500000000, 1500000100});
  std::string bytes = ziptest::build_bytes(e);
  const size_t at = bytes.find("miss");
  ASSERT_NE(at, std::string::npos);
  bytes[at] = 'k';  // a stored byte changed: both records still agree
  const std::string archive = dir / "d.zip";
  ASSERT_TRUE(testkit::write_file(archive, bytes));
  HZIP h = OpenZip(archive.c_str(), nullptr);
  ASSERT_NE(h, nullptr);
  SetUnzipBaseDir(h, dir.path().c_str());
  EXPECT_EQ(UnzipItem(h, 0, "damaged.txt"), ZIPR_CORRUPT);
  CloseZipU(h);
  qp::FileInfo info;  // before the bytes are read, which would move the access time
  ASSERT_TRUE(testkit::file_info(dir / "damaged.txt", &info));
  EXPECT_EQ(info.write_time, file_time_of_unix_time(1500000000));
  EXPECT_EQ(info.access_time, file_time_of_unix_time(1500000100));
  EXPECT_EQ(testkit::read_file(dir / "damaged.txt"), "bytes that kiss their CRC");
}

TEST(UnzipApi, FindByName) {
  const std::string z = ziptest::build_bytes({{"docs/README.txt", "read me"}, {"other", "o"}});
  HZIP h = OpenZip(z.data(), static_cast<uint32_t>(z.size()), nullptr);
  ASSERT_NE(h, nullptr);
  int index = 99;
  ZIPENTRY ze;
  EXPECT_EQ(FindZipItem(h, "docs/Readme.TXT", true, &index, &ze), ZIPR_OK);
  EXPECT_EQ(index, 0);
  EXPECT_STREQ(ze.name, "docs/README.txt");
  EXPECT_EQ(ze.uncompressed_size, 7u);
  std::memset(&ze, 0x55, sizeof ze);
  EXPECT_EQ(FindZipItem(h, "docs/Readme.TXT", false, &index, &ze), ZIPR_NOTFOUND);
  EXPECT_EQ(index, -1);
  EXPECT_EQ(ze.index, -1);
  EXPECT_STREQ(ze.name, "");
  EXPECT_EQ(FindZipItem(h, "other", false, nullptr, nullptr), ZIPR_OK);
  EXPECT_EQ(FindZipItem(h, std::string(300, 'o').c_str(), false, &index, nullptr), ZIPR_NOTFOUND);
  CloseZipU(h);
}

TEST(UnzipApi, HandlesAsSourceAndDestination) {
  testkit::ScratchDir dir;
  std::vector<Entry> e = {{"data.bin", ziptest::sample(50000, 8), 8}, {"folder/", ""}};
  e[1].external = 0x41ED0000;
  const std::string path = dir / "joined.bin";
  ASSERT_TRUE(testkit::write_file(path, std::string(100, 'J') + ziptest::build_bytes(e)));
  qp::Handle src = qp::open_read_shared(path.c_str());
  ASSERT_TRUE(qp::is_valid(src));
  qp::set_file_pointer(src, 100, qp::SeekFrom::Begin);
  HZIP h = OpenZipHandle(src, nullptr);
  ASSERT_NE(h, nullptr);
  const std::string target = dir / "target.bin";
  qp::Handle dst = qp::open_read_write(target.c_str());
  ASSERT_TRUE(qp::is_valid(dst));
  EXPECT_EQ(UnzipItemHandle(h, 0, dst), ZIPR_OK);
  EXPECT_EQ(UnzipItemHandle(h, 1, dst), ZIPR_OK);  // a folder writes nothing
  qp::close_handle(dst);
  EXPECT_EQ(testkit::read_file(target), e[0].data);
  EXPECT_EQ(UnzipItemHandle(h, 0, nullptr), ZIPR_BADARGS);
  // A folder has nothing to write: the handle is not looked at.
  EXPECT_EQ(UnzipItemHandle(h, 1, nullptr), ZIPR_OK);
  EXPECT_EQ(UnzipItemHandle(h, 1, qp::kInvalidHandle), ZIPR_OK);
  CloseZipU(h);
  qp::close_handle(src);

  qp::Handle r, w;
  ASSERT_TRUE(qp::create_pipe(&r, &w));
  EXPECT_EQ(OpenZipHandle(r, nullptr), nullptr);
  EXPECT_EQ(lasterrorU, ZIPR_UNSEEKABLE);
  qp::close_handle(r);
  qp::close_handle(w);
}

TEST(UnzipApi, HandleChecksAndClosing) {
  ZIPENTRY ze;
  char buf[4];
  EXPECT_EQ(GetZipItem(nullptr, 0, &ze), ZIPR_BADARGS);
  EXPECT_EQ(FindZipItem(nullptr, "x", false, nullptr, nullptr), ZIPR_BADARGS);
  EXPECT_EQ(UnzipItem(nullptr, 0, "x"), ZIPR_BADARGS);
  EXPECT_EQ(UnzipItem(nullptr, 0, buf, 4), ZIPR_BADARGS);
  EXPECT_EQ(SetUnzipBaseDir(nullptr, "x"), ZIPR_BADARGS);
  ZipHandleRecord writer{kWritingHandle, nullptr};
  EXPECT_EQ(GetZipItem(&writer, 0, &ze), ZIPR_MIXEDMODE);
  EXPECT_EQ(UnzipItem(&writer, 0, "x"), ZIPR_MIXEDMODE);
  lasterrorZ = ZIPR_OK;
  EXPECT_EQ(CloseZipU(&writer), ZIPR_MIXEDMODE);
  EXPECT_EQ(lasterrorU, ZIPR_MIXEDMODE);
  EXPECT_EQ(CloseZipU(nullptr), ZIPR_BADARGS);
  EXPECT_EQ(lasterrorU, ZIPR_BADARGS);
  EXPECT_EQ(lasterrorZ, ZIPR_OK);

  const std::string z = ziptest::build_bytes({{"a", "1"}});
  ArchiveReader u(nullptr);
  EXPECT_EQ(u.Open(z.data(), static_cast<uint32_t>(z.size()), ZIPSRC_MEMORY), ZIPR_OK);
  EXPECT_EQ(u.Open(z.data(), static_cast<uint32_t>(z.size()), ZIPSRC_MEMORY), ZIPR_NOTINITIALISED);
  EXPECT_EQ(u.Close(), ZIPR_OK);
}

TEST(UnzipApi, BaseFolderSeparators) {
  const std::string z = ziptest::build_bytes({{"a", "1"}});
  HZIP h = OpenZip(z.data(), static_cast<uint32_t>(z.size()), nullptr);
  ASSERT_NE(h, nullptr);
  std::string cwd = testkit::current_dir();
  if (cwd.back() != '/' && cwd.back() != '\\') cwd += '/';
  EXPECT_EQ(object_of(h)->base_dir(), cwd);
  EXPECT_EQ(SetUnzipBaseDir(h, "out\\"), ZIPR_OK);
#ifdef _WIN32
  EXPECT_EQ(object_of(h)->base_dir(), "out\\");
#else
  EXPECT_EQ(object_of(h)->base_dir(), "out/");  // a separator here as in entry names
  EXPECT_EQ(SetUnzipBaseDir(h, "a\\b"), ZIPR_OK);
  EXPECT_EQ(object_of(h)->base_dir(), "a/b/");
#endif
  EXPECT_EQ(SetUnzipBaseDir(h, "out"), ZIPR_OK);
  EXPECT_EQ(object_of(h)->base_dir(), "out/");
  // The empty text is the current directory, never the file system's root.
  EXPECT_EQ(SetUnzipBaseDir(h, ""), ZIPR_OK);
  EXPECT_EQ(object_of(h)->base_dir(), "./");
  EXPECT_EQ(SetUnzipBaseDir(h, nullptr), ZIPR_BADARGS);
  // A folder beyond the system's limits (a step or the whole path too
  // long) is refused, and kept whole so that nothing goes elsewhere. Up to
  // them, it is taken.
  std::string long_path;
  while (long_path.size() < qp::longest_path()) long_path += std::string(200, 'd') + "/";
  for (const std::string& long_dir : {std::string(qp::longest_step() + 1, 'd'), long_path}) {
    EXPECT_EQ(SetUnzipBaseDir(h, long_dir.c_str()), ZIPR_BADARGS);
    EXPECT_EQ(object_of(h)->base_dir(), long_dir.back() == '/' ? long_dir : long_dir + "/");
    EXPECT_EQ(UnzipItem(h, 0, "a"), ZIPR_OPENFAILED);
  }
  EXPECT_EQ(SetUnzipBaseDir(h, long_path.substr(0, 400).c_str()), ZIPR_OK);
  CloseZipU(h);
}

TEST(UnzipNames, CleaningRules) {
  EXPECT_STREQ(CleanEntryName("/../../x.txt"), "x.txt");
  EXPECT_STREQ(CleanEntryName("C:\\Windows\\x.dll"), "Windows\\x.dll");
  EXPECT_STREQ(CleanEntryName("a/b/../c"), "c");
  EXPECT_STREQ(CleanEntryName("C:/x/../y.txt"), "y.txt");
  EXPECT_STREQ(CleanEntryName("a\\..\\b/../c\\d"), "c\\d");
  EXPECT_STREQ(CleanEntryName("\\\\server\\share\\f"), "server\\share\\f");
  EXPECT_STREQ(CleanEntryName("../x"), "../x");  // left for the output path to handle
  EXPECT_STREQ(CleanEntryName("dir/sub/"), "dir/sub/");
  EXPECT_STREQ(CleanEntryName(""), "");
}

TEST(UnzipNames, OutputPathsNeverClimb) {
  struct Case {
    const char* destination;
    const char* dirs;
    const char* file;
    bool absolute;
  };
  const Case cases[] = {
      {"a.txt", "", "a.txt", false},
      {"dir\\a.txt", "dir/", "a.txt", false},
      {"../x", "", "x", false},
      {"..\\..\\x", "", "x", false},
      {"a/../../b/c", "a/b/", "c", false},
      {"a/..", "a/", "", false},
      {"a//b///c", "a/b/", "c", false},
      {"dir/", "dir/", "", false},
      {"/abs/a/../f", "/abs/a/", "f", true},
#ifdef _WIN32
      // Windows reads a colon as a drive or a stream, and trims dots and
      // blanks off a step's end: such steps are dropped.
      {"./.../. ./.. /x", "", "x", false},
      {"x/C:/y/D:z", "x/y/", "z", false},
      {"dir/a:b.txt", "dir/", "b.txt", false},
      {"C:\\out\\f", "C:\\out/", "f", true},
      {"\\\\srv\\f", "\\\\srv/", "f", true},
#else
      // Elsewhere these are ordinary names, kept as given.
      {"./.../. ./.. /x", ".../. ./.. /", "x", false},
      {"x/C:/y/D:z", "x/C:/y/", "D:z", false},
      {"dir/a:b.txt", "dir/", "a:b.txt", false},
      {"e/...", "e/", "...", false},
      {"C:\\out\\f", "C:/out/", "f", false},
      {"\\\\srv\\f", "//srv/", "f", true},
#endif
  };
  for (const Case& c : cases) {
    OutputPath out;
    ASSERT_TRUE(MakeOutputPath(c.destination, &out)) << c.destination;
    EXPECT_EQ(out.dirs, c.dirs) << c.destination;
    EXPECT_EQ(out.file, c.file) << c.destination;
    EXPECT_EQ(out.absolute, c.absolute) << c.destination;
  }
  OutputPath out;
  EXPECT_EQ(MakeOutputPath("dir/CON.txt", &out), !qp::is_device_name("CON.txt", 7));
  EXPECT_EQ(MakeOutputPath("aux/x", &out), !qp::is_device_name("aux", 3));
}

TEST(UnzipHostile, NothingLandsOutsideTheBaseFolder) {
  testkit::ScratchDir dir;
  std::vector<Entry> e;
  const char* names[] = {"../evil1",       "..\\evil2",          "a/../../evil3",  "/etc/evil4",
                         "C:\\evil5",      "x/C:/evil6",         "....//evil7",    "dir/..",
                         "..",             ". ./evil8",          "a\\..\\..\\evil9", "\\\\server\\share\\evil10",
                         "../../evildir/", "ok/..\\../evil11",   "..//..//evil12", "good.txt"};
  for (const char* n : names) {
    Entry entry(n, std::string("payload of ") + n);
    if (std::string(n).back() == '/') entry.external = 0x41ED0000, entry.data.clear();
    e.push_back(entry);
  }
  const std::string archive = dir / "hostile.zip";
  ASSERT_TRUE(testkit::write_file(archive, ziptest::build_bytes(e)));
  ASSERT_TRUE(qp::make_directory((dir / "deep").c_str()));
  const std::string base = dir / "deep/base";
  // Names that clean to nothing are refused, and the result says so.
  EXPECT_EQ(UNZIP(archive.c_str(), base.c_str()), 0.0);

  // Everything outside base is what the test put there.
  for (const std::string& f : testkit::tree(dir.path())) {
    EXPECT_TRUE(f == "hostile.zip" || f == "deep/" || f.rfind("deep/base/", 0) == 0) << f;
  }
  const std::vector<std::string> inside = testkit::tree(base);
  for (const char* f : {"evil1", "evil2", "evil3", "etc/evil4", "evil5", "evil9", "server/share/evil10", "evildir/",
                        "evil11", "evil12", "good.txt"})
    EXPECT_TRUE(contains(inside, f)) << f;
#ifdef _WIN32
  for (const char* f : {"x/evil6", "evil7", "evil8"}) EXPECT_TRUE(contains(inside, f)) << f;
#else
  for (const char* f : {"x/C:/evil6", "..../evil7", ". ./evil8"}) EXPECT_TRUE(contains(inside, f)) << f;
#endif
  EXPECT_EQ(testkit::read_file(base + "/evil1"), "payload of ../evil1");
}

TEST(UnzipHostile, LongPathsAreRefusedNeverCut) {
  // Paths up to the system's own limits are made whole, through the item
  // API (whose `name` holds 259 characters) and the export with one thread
  // and many; a step or a path beyond them is refused and makes nothing.
  const size_t step = qp::longest_step();
  auto nested = [](size_t n, const std::string& tail) {
    std::string p;
    while (p.size() < n) p += "d123456789/";
    return p + tail;
  };
  std::string beyond;  // steps that fit, adding up to a path that does not
  while (beyond.size() <= qp::longest_path()) beyond += std::string(200, 'o') + "/";
  struct Case {
    std::string stored;
    bool folder;
    ZIPRESULT result;
    std::string made;  // the path made for it, "" for none
  };
  const Case cases[] = {
      {nested(300, "f.txt"), false, ZIPR_OK, nested(300, "f.txt")},
      {nested(300, "g.txt"), false, ZIPR_OK, nested(300, "g.txt")},  // the same first 259 characters
      {nested(290, "folder/"), true, ZIPR_OK, nested(290, "folder")},
      {"w/" + std::string(230, 'w') + ".txt", false, ZIPR_OK, "w/" + std::string(230, 'w') + ".txt"},
      {std::string(step, 's'), false, ZIPR_OK, std::string(step, 's')},
      {std::string(step + 1, 't'), false, ZIPR_OPENFAILED, ""},
      {"u/" + std::string(step + 1, 'u') + "/f", false, ZIPR_OPENFAILED, ""},
      {"v/" + std::string(step + 1, 'v') + "/", true, ZIPR_OPENFAILED, ""},
      {beyond + "f", false, ZIPR_OPENFAILED, ""},
      {"x/../" + std::string(300, 'h'), false, ZIPR_OPENFAILED, ""},
      // Cleaned whole: the parent step beyond the 259 characters shown
      // still counts, and the name lands at c.txt, where the next entry
      // then replaces it, with one thread or many.
      {std::string(270, 'p') + "/../c.txt", false, ZIPR_OK, "c.txt"},
      {"c.txt", false, ZIPR_OK, "c.txt"},
  };
  std::vector<Entry> entries;
  for (const Case& c : cases) {
    entries.emplace_back(c.stored, c.folder ? "" : "data of " + std::to_string(entries.size()));
    if (c.folder) entries.back().external = 0x41ED0000;
  }
  testkit::ScratchDir dir;
  const std::string base = dir / std::string(150, 'b');
  const std::vector<std::string> bases = {base, dir / "export1", dir / "export8"};
  // The scratch folder's own clean-up lists folders through paths that
  // Windows limits to 260 characters: what the entries made goes first,
  // innermost first.
  struct AtEnd {
    std::function<void()> run;
    ~AtEnd() { run(); }
  } remove_made{[&] {
    for (const std::string& b : bases) {
      for (const Case& c : cases) {
        if (c.made.empty()) continue;
        if (!c.folder) qp::delete_file((b + "/" + c.made).c_str());
        std::string folder = c.made;
        for (bool file = !c.folder; !folder.empty(); file = false) {
          if (!file) qp::remove_directory((b + "/" + folder).c_str());
          const size_t cut = folder.rfind('/');
          folder.resize(cut == std::string::npos ? 0 : cut);
        }
      }
    }
  }};
  const std::string archive = dir / "long.zip";
  ASSERT_TRUE(testkit::write_file(archive, ziptest::build_bytes(entries)));
  auto check_tree = [&](const std::string& base) {
    std::vector<std::string> top = testkit::entry_names(base);
    std::sort(top.begin(), top.end());
    EXPECT_EQ(top, (std::vector<std::string>{"c.txt", "d123456789", std::string(step, 's'), "w"}));
    for (size_t i = 0; i < entries.size(); ++i) {
      const Case& c = cases[i];
      if (c.made.empty()) continue;
      if (c.folder) {
        EXPECT_TRUE(testkit::is_directory(base + "/" + c.made)) << i;
      } else if (i + 1 == entries.size() || cases[i + 1].made != c.made) {
        EXPECT_EQ(testkit::read_utf8(base + "/" + c.made), entries[i].data) << i;
      }
    }
  };

  HZIP h = OpenZip(archive.c_str(), nullptr);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(SetUnzipBaseDir(h, base.c_str()), ZIPR_OK);
  ZIPENTRY ze;
  for (size_t i = 0; i < entries.size(); ++i) {
    // `name` is cut first and then cleaned: what lies beyond its 259
    // characters never decides the name shown.
    ASSERT_EQ(GetZipItem(h, int(i), &ze), ZIPR_OK);
    EXPECT_EQ(std::string(ze.name), CleanEntryName(cases[i].stored.substr(0, 259).c_str())) << i;
    EXPECT_EQ(UnzipItem(h, int(i), ze.name), cases[i].result) << i;
  }
  CloseZipU(h);
  check_tree(base);

  for (unsigned threads : {1u, 8u}) {
    SCOPED_TRACE(threads);
    unzip_archive(archive.c_str(), bases[threads == 1 ? 1 : 2].c_str(), threads);
    check_tree(bases[threads == 1 ? 1 : 2]);
  }
}

TEST(UnzipExport, ExtractsIntoANewFolder) {
  testkit::ScratchDir dir;
  std::vector<Entry> e = {{"dir/a.txt", "alpha", 8}, {"win\\b.txt", "beta"}, {"empty/", ""}, {"top.txt", "top"}};
  e[2].external = 0x41ED0000;
  const std::string archive = dir / "x.zip";
  ASSERT_TRUE(testkit::write_file(archive, ziptest::build_bytes(e)));
  const std::string out = dir / "out";
  EXPECT_EQ(UNZIP(archive.c_str(), out.c_str()), 1.0);
  EXPECT_EQ(testkit::read_file(out + "/dir/a.txt"), "alpha");
  EXPECT_EQ(testkit::read_file(out + "/win/b.txt"), "beta");  // a backslash separates folders everywhere
  EXPECT_TRUE(testkit::is_directory(out + "/empty"));
  EXPECT_EQ(testkit::read_file(out + "/top.txt"), "top");
  EXPECT_EQ(lasterrorU, ZIPR_OK);
  // Block devices and sockets (their type shares the directory's bit) and
  // character devices come out as files with their own permission bits,
  // with one thread or many.
  const std::pair<const char*, uint32_t> kinds[] = {{"blockdev", 0060644}, {"socket", 0140755}, {"chardev", 0020600}};
  std::vector<Entry> types;
  for (const auto& [name, mode] : kinds) {
    types.emplace_back(name, name);
    types.back().external = mode << 16;
  }
  ASSERT_TRUE(testkit::write_file(dir / "types.zip", ziptest::build_bytes(types)));
  for (unsigned threads : {1u, 8u}) {
    const std::string to = dir / ("types" + std::to_string(threads));
    unzip_archive((dir / "types.zip").c_str(), to.c_str(), threads);
    for (const auto& [name, mode] : kinds) {
      EXPECT_EQ(testkit::read_file(to + "/" + name), name) << threads;
      qp::FileInfo info;
      ASSERT_TRUE(testkit::file_info(to + "/" + name, &info));
      if (info.has_unix_mode) {
        EXPECT_EQ(info.unix_mode & 07777, mode & 0777) << name;
      }
    }
  }

  // Device names are files on some systems and refused on others.
  const std::string devices = dir / "dev.zip";
  ASSERT_TRUE(testkit::write_file(devices, ziptest::build_bytes({{"aux.c", "c source"}, {"nul/x", "x"}})));
  UNZIP(devices.c_str(), (dir / "dev").c_str());
  const bool windows = qp::is_device_name("aux.c", 5);
  EXPECT_EQ(testkit::exists(dir / "dev/aux.c"), !windows);
  EXPECT_EQ(testkit::exists(dir / "dev/nul/x"), !windows);
}

// Folder items get their stored times once every item is written, the later
// of two items for one folder winning; a folder item whose path a file took
// first leaves that file's times alone. With one thread and with many.
TEST(UnzipExport, FolderItemsGetTheirTimesLast) {
  testkit::ScratchDir dir;
  const uint32_t t = 1500000000;
  std::vector<Entry> e = {{"twice/", ""}, {"clash", "a file"}, {"clash/", ""}, {"twice/", ""}, {"twice/in.txt", "in"}};
  for (Entry& x : e)
    if (x.name.back() == '/') x.external = 0x41ED0000;
  for (size_t i = 0; i < e.size(); ++i) e[i].local_extra = ziptest::ut_block(1, {t + 1000 * uint32_t(i)});
  const std::string archive = dir / "folders.zip";
  ASSERT_TRUE(testkit::write_file(archive, ziptest::build_bytes(e)));
  for (unsigned threads : {1u, 8u}) {
    SCOPED_TRACE(threads);
    const std::string out = dir / ("n" + std::to_string(threads));
    unzip_archive(archive.c_str(), out.c_str(), threads);
    qp::FileInfo info;
    ASSERT_TRUE(qp::folder_info_utf8((out + "/twice").c_str(), &info));
    EXPECT_EQ(info.write_time, file_time_of_unix_time(t + 3000));
    ASSERT_TRUE(testkit::file_info(out + "/clash", &info));
    EXPECT_EQ(info.write_time, file_time_of_unix_time(t + 1000));
    ASSERT_TRUE(testkit::file_info(out + "/twice/in.txt", &info));
    EXPECT_EQ(info.write_time, file_time_of_unix_time(t + 4000));
  }
}

TEST(UnzipExport, ColonsDotsAndBlanksInNamesAndABackslashedFolder) {
  testkit::ScratchDir dir;
  const std::vector<Entry> e = {{"dir/b.txt", "real b"},      {"dir/a:b.txt", "colon"}, {"dir/.../c.txt", "dots"},
                                {"e/...", "dots file"},        {"dir/ /d.txt", "blank"}, {"f\\g.txt", "g"}};
  const std::string archive = dir / "names.zip";
  ASSERT_TRUE(testkit::write_file(archive, ziptest::build_bytes(e)));
  // The folder ends in a backslash: a separator on every system. On Windows
  // e/... names no file, so that entry fails the call.
#ifdef _WIN32
  const double whole = 0.0;
#else
  const double whole = 1.0;
#endif
  EXPECT_EQ(UNZIP(archive.c_str(), (dir / "out\\").c_str()), whole);
  for (const std::string& f : testkit::tree(dir.path()))
    EXPECT_TRUE(f == "names.zip" || f.rfind("out/", 0) == 0) << f;
  const std::string out = dir / "out/";
  EXPECT_EQ(testkit::read_file(out + "f/g.txt"), "g");
#ifdef _WIN32
  // A colon would open a stream and the system trims dots and blanks, so
  // such steps go: a:b.txt lands on b.txt, and e/... names no file.
  EXPECT_EQ(testkit::read_file(out + "dir/b.txt"), "colon");
  EXPECT_EQ(testkit::read_file(out + "dir/c.txt"), "dots");
  EXPECT_EQ(testkit::read_file(out + "dir/d.txt"), "blank");
#else
  // Ordinary names here: every entry keeps its own file.
  EXPECT_EQ(testkit::read_file(out + "dir/b.txt"), "real b");
  EXPECT_EQ(testkit::read_file(out + "dir/a:b.txt"), "colon");
  EXPECT_EQ(testkit::read_file(out + "dir/.../c.txt"), "dots");
  EXPECT_EQ(testkit::read_file(out + "e/..."), "dots file");
  EXPECT_EQ(testkit::read_file(out + "dir/ /d.txt"), "blank");
#endif
}

TEST(UnzipExport, NothingHappensWithoutAnArchive) {
  testkit::ScratchDir dir;
  const std::string out = dir / "out";
  lasterrorZ = ZIPR_OK;
  // No archive, none that opens, no folder: nothing happens, and the result
  // says that it failed.
  EXPECT_EQ(UNZIP((dir / "missing.zip").c_str(), out.c_str()), 0.0);
  EXPECT_FALSE(testkit::exists(out));
  EXPECT_EQ(lasterrorU, ZIPR_BADARGS);
  EXPECT_EQ(lasterrorZ, ZIPR_BADARGS);
  ASSERT_TRUE(testkit::write_file(dir / "not.zip", std::string(100, 'n')));
  EXPECT_EQ(UNZIP((dir / "not.zip").c_str(), out.c_str()), 0.0);
  EXPECT_FALSE(testkit::exists(out));
  EXPECT_EQ(UNZIP(nullptr, out.c_str()), 0.0);
  const std::string z = dir / "ok.zip";
  ASSERT_TRUE(testkit::write_file(z, ziptest::build_bytes({{"f", "x"}})));
  EXPECT_EQ(UNZIP(z.c_str(), nullptr), 0.0);
  EXPECT_FALSE(testkit::exists(out));
  EXPECT_EQ(testkit::tree(dir.path()).size(), 2u);  // the two archives alone
}

TEST(UnzipExport, AnEmptyFolderTextMeansTheCurrentDirectory) {
  testkit::ScratchDir dir;
  const std::string z = dir / "here.zip";
  ASSERT_TRUE(testkit::write_file(z, ziptest::build_bytes({{"unpacked-here.txt", "x"}})));
  ASSERT_EQ(qp::change_directory(dir.path().c_str()), 0);
  EXPECT_EQ(UNZIP("here.zip", ""), 1.0);
  EXPECT_EQ(testkit::read_file(dir / "unpacked-here.txt"), "x");
  EXPECT_FALSE(testkit::exists("/unpacked-here.txt"));
}

TEST(UnzipExport, AnEntryNeverOverwritesItsOwnArchive) {
  testkit::ScratchDir dir;
  const std::string bytes = ziptest::build_bytes({{"self.zip", "not an archive"}, {"other.txt", "other"}});
  const std::string archive = dir / "self.zip";
  ASSERT_TRUE(testkit::write_file(archive, bytes));
  EXPECT_EQ(UNZIP(archive.c_str(), dir.path().c_str()), 0.0);  // the refused entry fails the call
  EXPECT_EQ(testkit::read_file(archive), bytes);
  EXPECT_EQ(testkit::read_file(dir / "other.txt"), "other");
}
