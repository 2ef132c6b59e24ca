// What the writer puts into each record: flags by case, sizes, CRCs,
// descriptors, names, attributes, times and the encryption header.
#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file.h"
#include "platform/fileinfo.h"
#include "platform/text.h"
#include "platform/time.h"
#include "support/testkit.h"
#include "support/zip_builder.h"
#include "support/zip_parse.h"
#include "zip/api/close_handle.h"
#include "zip/format/crc32.h"
#include "zip/format/dos_time.h"
#include "zip/write/writer.h"

using namespace quillon;
using testkit::read_file;
using testkit::ScratchDir;
using testkit::write_file;

namespace {

const std::string kText = testkit::make_bytes(100000, 1, true);
const std::string kNoise = testkit::make_bytes(3000, 2, false);

ztest::Archive parse_ok(const std::string& bytes) {
  ztest::Archive a = ztest::parse(bytes);
  EXPECT_EQ(a.error, "");
  return a;
}

void expect_data(const std::string& bytes, const ztest::Entry& e, const std::string& want,
                 const char* password = nullptr) {
  std::string error;
  EXPECT_EQ(ztest::data_of(bytes, e, password, &error), want) << e.name;
  EXPECT_EQ(error, "");
}

uint32_t extra_time(const std::string& block, size_t i) {
  return testkit::get32(block, 5 + 4 * i);
}

// One of each kind of item into `hz`: deflated memory, stored memory, a
// folder, a deflated file and an empty file.
void add_mixed(HZIP hz, const ScratchDir& dir) {
  write_file(dir / "file.txt", kText);
  write_file(dir / "empty.txt", "");
  ASSERT_EQ(ZipAdd(hz, "text.txt", kText.data(), uint32_t(kText.size())), ZIPR_OK);
  ASSERT_EQ(ZipAdd(hz, "noise.gz", kNoise.data(), uint32_t(kNoise.size())), ZIPR_OK);
  ASSERT_EQ(ZipAddFolder(hz, "docs"), ZIPR_OK);
  ASSERT_EQ(ZipAdd(hz, "file.txt", (dir / "file.txt").c_str()), ZIPR_OK);
  ASSERT_EQ(ZipAdd(hz, "empty.txt", (dir / "empty.txt").c_str()), ZIPR_OK);
}

void expect_common_fields(const ztest::Archive& a) {
  uint64_t expected_offset = 0;
  bool first = true;
  for (const ztest::Entry& e : a.entries) {
    EXPECT_EQ(e.made_by, 0x0B17);
    EXPECT_EQ(e.needed, 20);
    EXPECT_EQ(e.l_needed, 20);
    EXPECT_EQ(e.name, e.l_name);
    EXPECT_EQ(e.l_method, e.method);
    EXPECT_EQ(e.l_stamp, e.stamp);
    EXPECT_EQ(e.disk, 0);
    EXPECT_EQ(e.internal_attr, 0);
    EXPECT_EQ(e.comment, "");
    ASSERT_EQ(e.local_extra.size(), 17u);
    ASSERT_EQ(e.central_extra.size(), 9u);
    EXPECT_EQ(e.local_extra.substr(0, 5), std::string("UT\x0d\x00\x07", 5));
    EXPECT_EQ(e.central_extra.substr(0, 5), std::string("UT\x05\x00\x07", 5));
    EXPECT_EQ(e.central_extra.substr(5), e.local_extra.substr(5, 4));
    if (!first) {
      EXPECT_EQ(e.offset, expected_offset);
    }
    first = false;
    expected_offset = e.data_pos + e.csize + (e.has_descriptor ? 16 : 0);
  }
  EXPECT_EQ(a.cd_offset, expected_offset);
  EXPECT_EQ(a.count_disk, a.entries.size() % 65536);
  EXPECT_EQ(a.count_total, a.entries.size() % 65536);
}

}  // namespace

TEST(ZipRecords, SeekableOutputRewritesLocalHeaders) {
  ScratchDir dir;
  HZIP hz = CreateZip((dir / "a.zip").c_str(), nullptr);
  ASSERT_NE(hz, nullptr);
  add_mixed(hz, dir);
  ASSERT_EQ(CloseZipZ(hz), ZIPR_OK);
  const std::string bytes = read_file(dir / "a.zip");
  const ztest::Archive a = parse_ok(bytes);
  ASSERT_EQ(a.entries.size(), 5u);
  expect_common_fields(a);
  EXPECT_EQ(a.entries[0].offset, 0u);
  const uint16_t want_flags[] = {0x0002, 0x0000, 0x0000, 0x0002, 0x0002};
  const uint16_t want_method[] = {8, 0, 0, 8, 8};
  for (size_t i = 0; i < 5; ++i) {
    const ztest::Entry& e = a.entries[i];
    EXPECT_EQ(e.flags, want_flags[i]) << e.name;
    EXPECT_EQ(e.l_flags, want_flags[i]) << e.name;
    EXPECT_EQ(e.method, want_method[i]) << e.name;
    EXPECT_FALSE(e.has_descriptor) << e.name;
    EXPECT_EQ(e.l_crc, e.crc);
    EXPECT_EQ(e.l_csize, e.csize);
    EXPECT_EQ(e.l_usize, e.usize);
  }
  expect_data(bytes, a.entries[0], kText);
  expect_data(bytes, a.entries[1], kNoise);
  EXPECT_EQ(a.entries[1].csize, kNoise.size());
  EXPECT_EQ(a.entries[2].name, "docs/");
  expect_data(bytes, a.entries[3], kText);
  // An empty input deflates to one final fixed block holding only its end.
  const ztest::Entry& empty = a.entries[4];
  EXPECT_EQ(bytes.substr(empty.data_pos, empty.csize), std::string("\x03\x00", 2));
  EXPECT_EQ(empty.crc, 0u);
  EXPECT_EQ(empty.usize, 0u);
}

TEST(ZipRecords, UnseekableOutputWritesDescriptors) {
  ScratchDir dir;
  testkit::PipeDrain drain;
  HZIP hz = CreateZipHandle(drain.write_end(), nullptr);
  ASSERT_NE(hz, nullptr);
  add_mixed(hz, dir);
  ASSERT_EQ(CloseZipZ(hz), ZIPR_OK);
  const std::string bytes = drain.finish();
  const ztest::Archive a = parse_ok(bytes);
  ASSERT_EQ(a.entries.size(), 5u);
  expect_common_fields(a);
  for (const ztest::Entry& e : a.entries) {
    EXPECT_EQ(e.flags, 0x0008) << e.name;
    EXPECT_EQ(e.l_flags, 0x0008) << e.name;
    ASSERT_TRUE(e.has_descriptor) << e.name;
    EXPECT_EQ(e.l_crc, 0u);
    EXPECT_EQ(e.d_crc, e.crc);
    EXPECT_EQ(e.d_csize, e.csize);
    EXPECT_EQ(e.d_usize, e.usize);
    // Deflated sizes are unknown in advance; a stored item's are announced.
    EXPECT_EQ(e.l_csize, e.method == 0 ? e.usize : 0u) << e.name;
    EXPECT_EQ(e.l_usize, e.usize) << e.name;
  }
  expect_data(bytes, a.entries[0], kText);
  expect_data(bytes, a.entries[1], kNoise);
  expect_data(bytes, a.entries[3], kText);
}

TEST(ZipRecords, PasswordEnciphersEveryItemButFolders) {
  for (int pipe = 0; pipe < 2; ++pipe) {
    ScratchDir dir;
    testkit::PipeDrain drain;
    HZIP hz = pipe ? CreateZipHandle(drain.write_end(), "s3cret") : CreateZip((dir / "p.zip").c_str(), "s3cret");
    ASSERT_NE(hz, nullptr);
    add_mixed(hz, dir);
    ASSERT_EQ(CloseZipZ(hz), ZIPR_OK);
    const std::string bytes = pipe ? drain.finish() : read_file(dir / "p.zip");
    const ztest::Archive a = parse_ok(bytes);
    ASSERT_EQ(a.entries.size(), 5u);
    expect_common_fields(a);
    for (const ztest::Entry& e : a.entries) {
      const bool folder = e.name == "docs/";
      // Enciphered items are never rewritten: a descriptor follows them on
      // every output, and the compressor's level mark does not appear.
      const uint16_t want = folder ? (pipe ? 0x0008 : 0x0000) : 0x0009;
      EXPECT_EQ(e.flags, want) << e.name;
      EXPECT_EQ(e.l_flags, want) << e.name;
      EXPECT_EQ(e.has_descriptor, !folder || pipe) << e.name;
      if (folder) continue;
      const std::string header = ztest::encryption_header(bytes, e, "s3cret");
      EXPECT_EQ(static_cast<unsigned char>(header[11]), (e.stamp >> 8) & 0xFF) << e.name;
    }
    expect_data(bytes, a.entries[0], kText, "s3cret");
    expect_data(bytes, a.entries[1], kNoise, "s3cret");
    EXPECT_EQ(a.entries[1].csize, kNoise.size() + 12);
    EXPECT_EQ(a.entries[1].l_csize, kNoise.size() + 12);
    expect_data(bytes, a.entries[3], kText, "s3cret");
    expect_data(bytes, a.entries[4], "", "s3cret");
    EXPECT_EQ(a.entries[4].csize, 14u);
  }
  EXPECT_TRUE(has_seeded);
}

TEST(ZipRecords, ArchiveSuffixesAreStored) {
  std::vector<char> block(1 << 16);
  HZIP hz = CreateZip(block.data(), uint32_t(block.size()), nullptr);
  const char* names[] = {"archive.ZIP", "data.gz", "old.Z", "x.z", "y.TGZ", "a.tar.gz", "a.tar", "b.zipx",
                         "dir.zip/readme", "noext"};
  for (const char* n : names) ASSERT_EQ(ZipAdd(hz, n, kText.data(), 1000), ZIPR_OK) << n;
  const std::string bytes = ziptest::finish_memory(hz);
  const ztest::Archive a = parse_ok(bytes);
  ASSERT_EQ(a.entries.size(), 10u);
  const uint16_t want[] = {0, 0, 0, 0, 0, 0, 8, 8, 8, 8};
  for (size_t i = 0; i < 10; ++i) EXPECT_EQ(a.entries[i].method, want[i]) << names[i];

  EXPECT_TRUE(HasZipSuffix("A.ARJ"));
  EXPECT_FALSE(HasZipSuffix("zip"));
  EXPECT_FALSE(HasZipSuffix("file.zip.txt"));
  EXPECT_EQ(lustricmp("ABC", "abc"), 0);
  EXPECT_EQ(lustricmp("abc", "abd"), -1);
  EXPECT_EQ(lustricmp("abcd", "ABC"), 1);
}

TEST(ZipRecords, NamesAreCleanedAndCut) {
  std::vector<char> block(1 << 16);
  HZIP hz = CreateZip(block.data(), uint32_t(block.size()), nullptr);
  const std::string long_name(300, 'n');
  const std::string folder_259 = std::string(258, 'f') + "g";
  ASSERT_EQ(ZipAdd(hz, "dir\\sub\\file.txt", "x", 1), ZIPR_OK);
  ASSERT_EQ(ZipAdd(hz, long_name.c_str(), "x", 1), ZIPR_OK);
  ASSERT_EQ(ZipAddFolder(hz, "docs/"), ZIPR_OK);
  ASSERT_EQ(ZipAddFolder(hz, "a\\b"), ZIPR_OK);
  ASSERT_EQ(ZipAddFolder(hz, folder_259.c_str()), ZIPR_OK);
  ASSERT_EQ(ZipAddFolder(hz, long_name.c_str()), ZIPR_OK);
  EXPECT_EQ(ZipAdd(hz, "", "x", 1), ZIPR_BADARGS);
  EXPECT_EQ(ZipAddFolder(hz, nullptr), ZIPR_BADARGS);
  const ztest::Archive a = parse_ok(ziptest::finish_memory(hz));
  ASSERT_EQ(a.entries.size(), 6u);
  EXPECT_EQ(a.entries[0].name, "dir/sub/file.txt");
  EXPECT_EQ(a.entries[1].name, std::string(259, 'n'));
  EXPECT_EQ(a.entries[2].name, "docs/");
  EXPECT_EQ(a.entries[3].name, "a/b/");
  EXPECT_EQ(a.entries[4].name, folder_259 + "/");
  EXPECT_EQ(a.entries[5].name, std::string(259, 'n') + "/");
}

// Names that are not plain ASCII are stored in UTF-8 with flag bit 11 in
// both headers; bytes that are not UTF-8 (possible on Linux) stay as they
// are, unflagged. On Windows a name given to the API is ANSI and converted.
TEST(ZipRecords, NonAsciiNamesAreStoredInUtf8AndFlagged) {
  std::vector<char> block(1 << 16);
  HZIP hz = CreateZip(block.data(), uint32_t(block.size()), nullptr);
  const std::string cafe = u8"caf\u00e9.txt";
  std::string long_utf8;
  for (int i = 0; i < 300; ++i) long_utf8 += u8"\u00e9";
#ifdef _WIN32
  // "café.txt" in the Western code page; elsewhere ACP-dependent.
  const std::string given[] = {"caf\xe9.txt", "plain.txt", "d\xe9j\xe0\\vu"};
  const std::string stored[] = {qp::utf8_from_system(given[0].c_str()), "plain.txt",
                                qp::utf8_from_system("d\xe9j\xe0/vu")};
  const bool flagged[] = {true, false, true};
#else
  const std::string given[] = {cafe, "plain.txt", "caf\xe9.txt", long_utf8};
  const std::string stored[] = {cafe, "plain.txt", "caf\xe9.txt", long_utf8.substr(0, 2 * 259)};
  const bool flagged[] = {true, false, false, true};
#endif
  const size_t count = sizeof flagged / sizeof flagged[0];
  for (size_t i = 0; i < count; ++i) ASSERT_EQ(ZipAdd(hz, given[i].c_str(), "x", 1), ZIPR_OK) << i;
  ASSERT_EQ(ZipAddFolder(hz, cafe.c_str()), ZIPR_OK);
  const ztest::Archive a = parse_ok(ziptest::finish_memory(hz));
  ASSERT_EQ(a.entries.size(), count + 1);
  for (size_t i = 0; i < count; ++i) {
    const ztest::Entry& e = a.entries[i];
    EXPECT_EQ(e.name, stored[i]) << i;
    EXPECT_EQ(e.l_name, stored[i]) << i;
    EXPECT_EQ((e.flags & 0x0800) != 0, flagged[i]) << i;
    EXPECT_EQ((e.l_flags & 0x0800) != 0, flagged[i]) << i;
    EXPECT_EQ(e.flags & ~0x0800, 0x0002) << i;
  }
#ifndef _WIN32
  EXPECT_EQ(a.entries[count].name, cafe + "/");
  EXPECT_EQ(a.entries[count].flags, 0x0800);
#endif
}

TEST(ZipRecords, ItemsWithoutAFileCarryTheLocalTimeNow) {
  std::vector<char> block(4096);
  ItemTimes now;
  GetNow(&now, nullptr);
  const int32_t before = unix_time_of_file_time(now.write);
  HZIP hz = CreateZip(block.data(), uint32_t(block.size()), nullptr);
  ASSERT_EQ(ZipAddFolder(hz, "docs"), ZIPR_OK);
  ASSERT_EQ(ZipAdd(hz, "m.bin", "xyz", 3), ZIPR_OK);
  const ztest::Archive a = parse_ok(ziptest::finish_memory(hz));
  ASSERT_EQ(a.entries.size(), 2u);
  const ztest::Entry& folder = a.entries[0];
  EXPECT_EQ(folder.external_attr, 0x41C00010u);
  EXPECT_EQ(folder.method, 0);
  EXPECT_EQ(folder.csize, 0u);
  EXPECT_EQ(folder.usize, 0u);
  EXPECT_EQ(folder.crc, 0u);
  EXPECT_EQ(a.entries[1].external_attr, 0x80000000u);
  for (const ztest::Entry& e : a.entries) {
    const int32_t t = int32_t(extra_time(e.local_extra, 0));
    EXPECT_GE(t, before);
    EXPECT_LE(t, before + 5);
    EXPECT_EQ(extra_time(e.local_extra, 1), uint32_t(t));
    EXPECT_EQ(extra_time(e.local_extra, 2), uint32_t(t));
  }
}

TEST(ZipRecords, FileItemsCarryAttributesAndUtcTimes) {
  ScratchDir dir;
  write_file(dir / "plain.txt", "plain");
  write_file(dir / "locked.txt", "locked");
  // A small executable image: "MZ", the new header's offset at 0x3C, "PE\0\0" there.
  std::string image(200, '\0');
  image[0] = 'M';
  image[1] = 'Z';
  image[0x3C] = 0x40;
  image.replace(0x40, 4, std::string("PE\0\0", 4));
  write_file(dir / "tool.exe", image);
  std::filesystem::permissions(dir / "locked.txt", std::filesystem::perms::owner_write |
                                                       std::filesystem::perms::group_write |
                                                       std::filesystem::perms::others_write,
                               std::filesystem::perm_options::remove);

  // 2021-03-04 05:06:07 UTC for the last write, 2001-02-03 04:05:06 for the access.
  qp::SystemTime st;
  st.year = 2021, st.month = 3, st.day = 4, st.hour = 5, st.minute = 6, st.second = 7;
  uint64_t write_time = 0, access_time = 0;
  ASSERT_TRUE(qp::system_time_to_file_time(st, &write_time));
  st.year = 2001, st.month = 2, st.day = 3, st.hour = 4, st.minute = 5, st.second = 6;
  ASSERT_TRUE(qp::system_time_to_file_time(st, &access_time));
  {
    qp::Handle h = qp::open_read_write((dir / "plain.txt").c_str());
    ASSERT_TRUE(qp::is_valid(h));
    ASSERT_TRUE(qp::set_file_times(h, nullptr, &access_time, &write_time));
    qp::close_handle(h);
  }

  HZIP hz = CreateZip((dir / "attr.zip").c_str(), nullptr);
  ASSERT_EQ(ZipAdd(hz, "plain.txt", (dir / "plain.txt").c_str()), ZIPR_OK);
  ASSERT_EQ(ZipAdd(hz, "locked.txt", (dir / "locked.txt").c_str()), ZIPR_OK);
  ASSERT_EQ(ZipAdd(hz, "tool.exe", (dir / "tool.exe").c_str()), ZIPR_OK);
  ASSERT_EQ(CloseZipZ(hz), ZIPR_OK);
  const ztest::Archive a = parse_ok(read_file(dir / "attr.zip"));
  ASSERT_EQ(a.entries.size(), 3u);

  const ztest::Entry& plain = a.entries[0];
  EXPECT_EQ(plain.external_attr, 0x81800020u);
  EXPECT_EQ(plain.stamp, (41u << 9 | 3u << 5 | 4u) << 16 | (5u << 11 | 6u << 5 | 3u));
  EXPECT_EQ(extra_time(plain.local_extra, 0), 1614834367u);
#if !defined(_WIN32)
  // Wine reads the file when it opens it, and the system then moves an
  // access time that lies before the last write.
  EXPECT_EQ(extra_time(plain.local_extra, 1), 981173106u);
#endif
  EXPECT_EQ(a.entries[1].external_attr, 0x81000021u);
  // Windows tells an executable by its header; Linux by the owner-execute bit.
#if defined(_WIN32)
  EXPECT_EQ(a.entries[2].external_attr, 0x81C00020u);
#else
  EXPECT_EQ(a.entries[2].external_attr, 0x81800020u);
  std::filesystem::permissions(dir / "tool.exe", std::filesystem::perms::owner_exec,
                               std::filesystem::perm_options::add);
  uint32_t attr = 0;
  qp::Handle h = qp::open_read_shared((dir / "tool.exe").c_str());
  ASSERT_EQ(GetFileInfo(h, &attr, nullptr, nullptr, nullptr), ZIPR_OK);
  qp::close_handle(h);
  EXPECT_EQ(attr, 0x81C00020u);
#endif
  std::filesystem::permissions(dir / "locked.txt", std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
}

namespace {

// The archive with its time fields blanked: the DOS stamps and the Unix
// times of the timestamp blocks, in the local and the central headers.
std::string without_times(std::string bytes) {
  const ztest::Archive a = parse_ok(bytes);
  auto blank = [&bytes](size_t at, size_t n) { bytes.replace(at, n, n, '\0'); };
  for (const ztest::Entry& e : a.entries) {
    blank(e.offset + 10, 4);
    blank(e.data_pos - e.local_extra.size() + e.local_extra.find("UT") + 5, 12);
  }
  for (size_t p = a.cd_offset, i = 0; i < a.entries.size(); ++i) {
    const size_t nl = testkit::get16(bytes, p + 28), xl = testkit::get16(bytes, p + 30),
                 cl = testkit::get16(bytes, p + 32);
    blank(p + 12, 4);
    blank(p + 46 + nl + bytes.substr(p + 46 + nl, xl).find("UT") + 5, 4);
    p += 46 + nl + xl + cl;
  }
  return bytes;
}

}  // namespace

// Archives of ASCII names, all of whose values fit the classic fields, are
// byte for byte what the writer made before it wrote UTF-8 names and Zip64
// records. Times change from run to run and are blanked; every other byte
// counts. The figures are the length and CRC-32 of the archives the earlier
// writer made of the same items.
TEST(ZipRecords, AsciiArchivesKeepTheirBytes) {
  ScratchDir dir;
  write_file(dir / "a.txt", kText);
  write_file(dir / "b.gz", kNoise);
  write_file(dir / "empty", "");
  // The same on both builds: the files' attributes come out alike.
  const uint32_t want[2][2] = {{16509, 1254254244u}, {16589, 2576794259u}};
  for (int stream = 0; stream < 2; ++stream) {
    testkit::PipeDrain drain;
    HZIP hz = stream ? CreateZipHandle(drain.write_end(), nullptr) : CreateZip((dir / "k.zip").c_str(), nullptr);
    ASSERT_NE(hz, nullptr);
    ASSERT_EQ(ZipAdd(hz, "a.txt", (dir / "a.txt").c_str()), ZIPR_OK);
    ASSERT_EQ(ZipAdd(hz, "sub\\b.gz", (dir / "b.gz").c_str()), ZIPR_OK);
    ASSERT_EQ(ZipAdd(hz, "empty", (dir / "empty").c_str()), ZIPR_OK);
    ASSERT_EQ(ZipAddFolder(hz, "docs"), ZIPR_OK);
    ASSERT_EQ(ZipAdd(hz, "docs/mem.txt", kText.data(), 20000), ZIPR_OK);
    ASSERT_EQ(CloseZipZ(hz), ZIPR_OK);
    const std::string bytes = without_times(stream ? drain.finish() : read_file(dir / "k.zip"));
    const uint32_t crc = crc32(0, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
    EXPECT_EQ(bytes.size(), want[stream][0]) << (stream ? "stream" : "file");
    EXPECT_EQ(crc, want[stream][1]) << (stream ? "stream" : "file");
  }
}

TEST(ZipRecords, TimeConversions) {
  qp::SystemTime st;
  st.year = 2019, st.month = 12, st.day = 31, st.hour = 23, st.minute = 59, st.second = 59;
  uint64_t ft = 0;
  ASSERT_TRUE(qp::system_time_to_file_time(st, &ft));
  // Seconds go down to an even number.
  EXPECT_EQ(dos_stamp_of_file_time(ft), (39u << 9 | 12u << 5 | 31u) << 16 | (23u << 11 | 59u << 5 | 29u));
  EXPECT_EQ(unix_time_of_file_time(ft), 1577836799);
  EXPECT_EQ(unix_time_of_file_time(116444736000000000ULL), 0);
  EXPECT_EQ(unix_time_of_file_time(116444736000000000ULL - 15000000), -1);  // toward zero
  // Dates a DOS stamp cannot hold are held at its ends, not wrapped.
  st.year = 1970, st.month = 1, st.day = 1, st.hour = 0, st.minute = 0, st.second = 1;
  ASSERT_TRUE(qp::system_time_to_file_time(st, &ft));
  EXPECT_EQ(dos_stamp_of_file_time(ft), (1u << 5 | 1u) << 16);
  st.year = 2200;
  ASSERT_TRUE(qp::system_time_to_file_time(st, &ft));
  EXPECT_EQ(dos_stamp_of_file_time(ft), (127u << 9 | 12u << 5 | 31u) << 16 | (23u << 11 | 59u << 5 | 29u));
}

// 65,535 and more items: the end record's counts read 0xFFFF, and the true
// count is in the Zip64 end record, found through its locator; the items
// themselves stay classic.
TEST(ZipRecords, MoreThan65534ItemsGetTheZip64EndRecord) {
  const uint32_t items = 70000;
  HZIP hz = CreateZip(nullptr, 16u << 20, nullptr);
  ASSERT_NE(hz, nullptr);
  char name[32];
  for (uint32_t i = 0; i < items; ++i) {
    std::snprintf(name, sizeof name, "d%02u/%05u", i / 1000, i);
    ASSERT_EQ(ZipAddFolder(hz, name), ZIPR_OK) << i;
  }
  const std::string bytes = ziptest::finish_memory(hz);
  const ztest::Archive a = parse_ok(bytes);
  EXPECT_EQ(a.entries.size(), items);
  EXPECT_EQ(a.count_disk, 0xFFFF);
  EXPECT_EQ(a.count_total, 0xFFFF);
  ASSERT_TRUE(a.has_zip64_end);
  EXPECT_EQ(a.zip64_count_disk, items);
  EXPECT_EQ(a.zip64_count_total, items);
  EXPECT_EQ(a.zip64_needed, 45);
  // Size and offset fit their fields and keep their values there.
  EXPECT_EQ(a.raw_cd_offset, a.cd_offset);
  EXPECT_EQ(a.raw_cd_size, a.cd_size);
  EXPECT_EQ(a.zip64_end_pos, a.cd_offset + a.cd_size);
  EXPECT_EQ(a.entries[items - 1].needed, 20);
  EXPECT_TRUE(a.entries[items - 1].zip64.empty());
}
