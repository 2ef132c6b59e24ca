// Slow: an entry of more than 4 GiB (zeros) from an archive that lies past
// 4 GiB in its file, made by make_big_archive.py, extracted by UNZIP on
// every build. Its description shows the 32-bit size fields' mark. And
// archives of about 101 MB whose directory starts at offset 0x06054B50, so
// that the end record's offset field reads like an end record's signature.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/fileinfo.h"
#include "quillon.h"
#include "support/testkit.h"
#include "zip/api/close_handle.h"
#include "zip/api/unzip_export.h"
#include "zip/read/reader.h"
#include "zip/write/writer.h"

using namespace quillon;

namespace {

constexpr uint32_t kFalseEndAt = 0x06054B50;

// The directory offset that the end record of the archive file states.
uint32_t directory_offset(const std::string& path) {
  const std::string bytes = testkit::read_file(path);
  if (bytes.size() < 22) return 0;
  const size_t at = bytes.size() - 22 + 16;
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
  return v;
}

// One stored item (a .zip name is stored, not deflated) of `size` bytes.
void write_one_item(const std::string& path, const std::string& data) {
  HZIP h = CreateZip(path.c_str(), nullptr);
  ASSERT_NE(h, nullptr);
  ASSERT_EQ(ZipAdd(h, "pad.zip", data.data(), static_cast<uint32_t>(data.size())), ZIPR_OK);
  ASSERT_EQ(CloseZipZ(h), ZIPR_OK);
}

}  // namespace

TEST(BigEntries, AFalseEndRecordInTheRecordsOwnFields) {
  testkit::ScratchDir dir;
  // Our writer: the item's size is found from a small archive of the same
  // shape, whose directory follows the item's data.
  const std::string small = dir / "small.zip", archive = dir / "ours.zip";
  write_one_item(small, "x");
  std::string data(kFalseEndAt - directory_offset(small) + 1, '\0');
  for (size_t i = 0; i < data.size(); i += 4096) data[i] = static_cast<char>(i >> 12);
  write_one_item(archive, data);
  ASSERT_EQ(directory_offset(archive), kFalseEndAt);
  struct Case {
    std::string archive, name;
    uint64_t size;
  };
  std::vector<Case> cases = {{archive, "pad.zip", data.size()}};
  const char* env = std::getenv("QUILLON_BIG_ARCHIVE");
  const std::string big = env && *env ? env : "big/big.zip";
  const std::string python = big.substr(0, big.find_last_of("/\\") + 1) + "false_end.zip";
  if (testkit::exists(python)) cases.push_back({python, "pad.bin", kFalseEndAt - 30 - 7});
  for (const auto& c : cases) {
    for (unsigned threads : {1u, 8u}) {
      const std::string out = dir / ("out" + std::to_string(threads));
      EXPECT_EQ(unzip_archive(c.archive.c_str(), out.c_str(), threads), 1.0);
      qp::FileInfo info;
      ASSERT_TRUE(testkit::file_info(out + "/" + c.name, &info)) << c.archive << ", " << threads << " threads";
      EXPECT_EQ(info.size, c.size) << c.archive;
    }
  }
  EXPECT_EQ(cases.size(), 2u) << "no " << python << " (run make_big_archive.py)";
}

TEST(BigEntries, MoreThanFourGiBExtract) {
  const char* env = std::getenv("QUILLON_BIG_ARCHIVE");
  const std::string archive = env && *env ? env : "big/big.zip";
  if (!testkit::exists(archive)) GTEST_SKIP() << "no " << archive << " (run make_big_archive.py)";
  constexpr uint64_t kZeros = (uint64_t(4) << 30) + (1 << 20);

  HZIP h = OpenZip(archive.c_str(), nullptr);
  ASSERT_NE(h, nullptr);
  ZIPENTRY ze;
  ASSERT_EQ(GetZipItem(h, -1, &ze), ZIPR_OK);
  EXPECT_EQ(ze.index, 2);
  ASSERT_EQ(GetZipItem(h, 0, &ze), ZIPR_OK);
  EXPECT_STREQ(ze.name, "zeros.bin");
  EXPECT_EQ(ze.uncompressed_size, 0xFFFFFFFFu);  // too large for the field
  EXPECT_LT(ze.compressed_size, 64u << 20);
  CloseZipU(h);

  testkit::ScratchDir dir;
  const std::string out = dir / "out";
  EXPECT_EQ(UNZIP(archive.c_str(), out.c_str()), 1.0);
  EXPECT_EQ(testkit::read_file(out + "/after.txt"), "the entry after the big one\n");
  qp::FileInfo info;
  ASSERT_TRUE(testkit::file_info(out + "/zeros.bin", &info));
  EXPECT_EQ(info.size, kZeros);
  // UNZIP reports nothing; piecewise extraction to memory reports the CRC,
  // checked over every byte, once the last piece is delivered.
  h = OpenZip(archive.c_str(), nullptr);
  ASSERT_NE(h, nullptr);
  std::string piece(1 << 20, '\1');
  uint64_t total = 0;
  bool zeros = true;
  ZIPRESULT r;
  do {
    r = UnzipItem(h, 0, &piece[0], static_cast<uint32_t>(piece.size()));
    const uint64_t n = r == ZIPR_OK ? kZeros - total : piece.size();
    if (r == ZIPR_OK || r == ZIPR_MOREDATA) {
      zeros = zeros && piece.find_first_not_of('\0', 0) >= n;
      total += n;
    }
  } while (r == ZIPR_MOREDATA && total < kZeros);
  EXPECT_EQ(r, ZIPR_OK);
  EXPECT_EQ(total, kZeros);
  EXPECT_TRUE(zeros);
  CloseZipU(h);
  qp::Handle f = qp::open_read_shared((out + "/zeros.bin").c_str());
  ASSERT_TRUE(qp::is_valid(f));
  for (uint64_t at : {uint64_t(0), (uint64_t(4) << 30) - 8, kZeros - 16}) {
    ASSERT_EQ(qp::seek_file(f, static_cast<int64_t>(at), qp::SeekFrom::Begin), at);
    unsigned char bytes[16] = {1};
    uint32_t got = 0;
    ASSERT_TRUE(qp::read_file(f, bytes, sizeof bytes, &got));
    EXPECT_EQ(got, 16u);
    for (unsigned char b : bytes) EXPECT_EQ(b, 0);
  }
  EXPECT_EQ(qp::seek_file(f, 0, qp::SeekFrom::End), kZeros);
  qp::close_handle(f);
}
