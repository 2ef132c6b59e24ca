// Zip64 fields and name encodings on hand-built archives: every field
// placement the note allows, and names flagged as UTF-8, unflagged, and
// carried in an Info-ZIP Unicode Path block.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/fileinfo.h"
#include "platform/text.h"
#include "quillon.h"
#include "support/testkit.h"
#include "support/zip_builder.h"
#include "zip/api/close_handle.h"
#include "zip/read/reader.h"

using namespace quillon;
using ziptest::Entry;

namespace {

std::string le64(uint64_t v) {
  std::string s(8, '\0');
  for (int i = 0; i < 8; ++i) s[i] = static_cast<char>(v >> (8 * i));
  return s;
}

std::string block(uint16_t id, const std::string& data) {
  std::string b(4, '\0');
  testkit::put16(b, 0, id);
  testkit::put16(b, 2, static_cast<uint16_t>(data.size()));
  return b + data;
}

// Info-ZIP's Unicode Path block: version 1, the CRC of the stored name, the
// name in UTF-8.
std::string unicode_path(const std::string& utf8, uint32_t crc) {
  std::string data(5, '\0');
  data[0] = 1;
  testkit::put32(data, 1, crc);
  return block(0x7075, data + utf8);
}

}  // namespace

// Central record: compressed size and local header offset marked, the
// uncompressed size not; the block holds the two marked values in the
// note's order. Local header: both sizes marked, the block holds both.
// Local Zip64 sizes that disagree with the central record are refused.
// Both entries' offsets are marked: each is told apart by its Zip64 value
// (not taken for one shared local header).
TEST(Zip64, MarkedFieldsTakeBlockValuesInOrder) {
  const std::string data = ziptest::sample(5000, 7);
  std::vector<Entry> e = {{"lead.txt", "before"}, {"z64.bin", data, 8}};
  const std::string packed = testkit::deflate_raw(data);
  e[1].local_extra = block(1, le64(data.size()) + le64(packed.size()));
  e[1].central_extra = block(1, le64(packed.size()) + le64(0));
  e[0].central_extra = block(1, le64(0));
  ziptest::Layout first = ziptest::build(e);
  e[1].central_extra = block(1, le64(packed.size()) + le64(first.local_offsets[1]));
  for (bool agree : {true, false}) {
    SCOPED_TRACE(agree);
    if (!agree) e[1].local_extra = block(1, le64(data.size() + 1) + le64(packed.size()));
    ziptest::Layout z = ziptest::build(e);
    const uint32_t local = z.local_offsets[1], central = z.central_offsets[1];
    testkit::put32(z.bytes, local + 18, 0xFFFFFFFF);
    testkit::put32(z.bytes, local + 22, 0xFFFFFFFF);
    testkit::put32(z.bytes, central + 20, 0xFFFFFFFF);
    testkit::put32(z.bytes, central + 42, 0xFFFFFFFF);
    testkit::put32(z.bytes, z.central_offsets[0] + 42, 0xFFFFFFFF);
    HZIP h = OpenZip(z.bytes.data(), static_cast<uint32_t>(z.bytes.size()), nullptr);
    ASSERT_NE(h, nullptr);
    ZIPENTRY ze;
    if (agree) {
      ASSERT_EQ(GetZipItem(h, 1, &ze), ZIPR_OK);
      EXPECT_EQ(ze.compressed_size, packed.size());
      EXPECT_EQ(ze.uncompressed_size, data.size());
      std::vector<char> out(data.size());
      EXPECT_EQ(UnzipItem(h, 1, out.data(), static_cast<uint32_t>(out.size())), ZIPR_OK);
      EXPECT_TRUE(std::string(out.data(), out.size()) == data);
      char lead[16] = {};
      EXPECT_EQ(UnzipItem(h, 0, lead, sizeof lead), ZIPR_OK);
      EXPECT_STREQ(lead, "before");
    } else {
      EXPECT_EQ(GetZipItem(h, 1, &ze), ZIPR_CORRUPT);
    }
    CloseZipU(h);
  }
}

// Names: UTF-8 with flag bit 11 (made exactly, whatever the code page),
// unflagged (the system's 8-bit text: bytes on Linux, the ANSI code page on
// Windows), and an Info-ZIP Unicode Path block that is taken only when its
// CRC matches the stored name. Lookups find either form.
TEST(UnzipNames, Utf8UnflaggedAndUnicodePath) {
  const std::string cafe = "caf\xC3\xA9.txt", nihon = "\xE6\x97\xA5\xE6\x9C\xAC/\xE6\x96\x87.txt";
  const std::string unflagged = "na\xEFve.txt", stored437 = "x\x82.txt", unicode = "x\xC3\xA9.txt";
  const std::string bad_crc = "bad\x82.txt";
  std::vector<Entry> e = {{cafe, "cafe"}, {nihon, "nihon"}, {unflagged, "naive"}, {stored437, "x"}, {bad_crc, "bad"}};
  e[3].central_extra = unicode_path(unicode, ziptest::crc_of(stored437));
  e[4].central_extra = unicode_path("ignored.txt", ziptest::crc_of(bad_crc) ^ 1);
  ziptest::Layout z = ziptest::build(e);
  for (int i : {0, 1}) {
    testkit::put16(z.bytes, z.local_offsets[i] + 6, 0x0800);
    testkit::put16(z.bytes, z.central_offsets[i] + 8, 0x0800);
  }
  testkit::ScratchDir dir;
  const std::string archive = dir / "names.zip", out = dir / "out";
  ASSERT_TRUE(testkit::write_file(archive, z.bytes));
  EXPECT_EQ(UNZIP(archive.c_str(), out.c_str()), 1.0);

  EXPECT_EQ(testkit::read_file(out + "/" + unflagged), "naive");  // a system text on both builds
  EXPECT_EQ(testkit::read_file(out + "/" + bad_crc), "bad");
  for (const std::string& name : {cafe, nihon, unicode}) EXPECT_TRUE(testkit::exists_utf8(out + "/" + name)) << name;
  // Five files and the folder of nihon, counted in wide names on Windows.
  EXPECT_EQ(testkit::tree_utf8(out).size(), 6u);

  HZIP h = OpenZip(archive.c_str(), nullptr);
  ASSERT_NE(h, nullptr);
  ZIPENTRY ze;
  std::string shown;
  for (int i : {0, 1, 3}) {
    ASSERT_EQ(GetZipItem(h, i, &ze), ZIPR_OK);
    ASSERT_TRUE(qp::system_from_utf8(i == 0 ? cafe.c_str() : i == 1 ? nihon.c_str() : unicode.c_str(), &shown, nullptr));
    EXPECT_EQ(std::string(ze.name), shown) << i;
    int found = -1;
    EXPECT_EQ(FindZipItem(h, shown.c_str(), false, &found, nullptr), ZIPR_OK);
    EXPECT_EQ(found, i);
  }
  int found = -1;
  EXPECT_EQ(FindZipItem(h, unicode.c_str(), true, &found, nullptr), ZIPR_OK);
  EXPECT_EQ(found, 3);
  EXPECT_EQ(FindZipItem(h, stored437.c_str(), false, &found, nullptr), ZIPR_OK);
  EXPECT_EQ(found, 3);
  EXPECT_EQ(FindZipItem(h, "ignored.txt", false, &found, nullptr), ZIPR_NOTFOUND);
  CloseZipU(h);
}

// Two central records whose Zip64 offsets point at one local header (the
// full-overlap construction): only the first is read.
TEST(Zip64, SharedLocalHeaderThroughZip64OffsetsIsRefused) {
  std::vector<Entry> e = {{"a.txt", "shared bytes"}, {"b.txt", "shared bytes"}};
  e[0].central_extra = e[1].central_extra = block(1, le64(0));
  ziptest::Layout z = ziptest::build(e);
  for (uint32_t central : z.central_offsets) testkit::put32(z.bytes, central + 42, 0xFFFFFFFF);
  HZIP h = OpenZip(z.bytes.data(), static_cast<uint32_t>(z.bytes.size()), nullptr);
  ASSERT_NE(h, nullptr);
  char buf[32] = {};
  EXPECT_EQ(UnzipItem(h, 0, buf, sizeof buf), ZIPR_OK);
  EXPECT_STREQ(buf, "shared bytes");
  EXPECT_EQ(UnzipItem(h, 1, buf, sizeof buf), ZIPR_CORRUPT);
  CloseZipU(h);
}
