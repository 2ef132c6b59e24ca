// Slow: an entry of more than 4 GiB (zeros) from an archive that lies past
// 4 GiB in its file, made by make_big_archive.py, extracted by UNZIP on
// both builds. Its description shows the 32-bit size fields' mark.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/fileinfo.h"
#include "quillon.h"
#include "support/testkit.h"
#include "zip/common/close_handle.h"
#include "zip/unzip/unzip.h"

using namespace quillon;

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
