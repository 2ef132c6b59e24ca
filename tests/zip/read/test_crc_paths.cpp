// The two CRC-32 paths agree with each other and with zlib's, at every
// length and alignment around the block sizes of the fast one.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "support/zip_builder.h"
#include "zip/format/crc32.h"
#include "zip/format/crc32_paths.h"

using namespace quillon;

TEST(CrcPaths, AgreeEverywhere) {
  const std::string data = ziptest::sample(1 << 20, 42);
  const unsigned char* p = reinterpret_cast<const unsigned char*>(data.data());
  const bool fast = crc_paths::has_clmul();
  if (!fast) std::printf("no carry-less multiply here: the portable path alone is checked\n");
  for (size_t offset = 0; offset < 16; ++offset) {
    for (size_t n = 0; n < 700; n += (n < 300 ? 1 : 7)) {
      const uint32_t start = static_cast<uint32_t>(n * 2654435761u);
      const uint32_t want = static_cast<uint32_t>(::crc32(start, p + offset, static_cast<uInt>(n)));
      ASSERT_EQ(crc_paths::portable(start, p + offset, n), want) << offset << " " << n;
      if (fast) {
        ASSERT_EQ(crc_paths::clmul(start, p + offset, n), want) << offset << " " << n;
      }
      ASSERT_EQ(quillon::crc32(start, p + offset, n), want) << offset << " " << n;
    }
  }
  const uint32_t whole = static_cast<uint32_t>(::crc32(0, p, static_cast<uInt>(data.size())));
  EXPECT_EQ(quillon::crc32(0, p, data.size()), whole);
  // Chained calls of odd sizes give the CRC of the whole.
  uint32_t chained = 0;
  for (size_t at = 0, step = 1; at < data.size(); at += step, step = step * 3 % 10007 + 1)
    chained = quillon::crc32(chained, p + at, std::min(step, data.size() - at));
  EXPECT_EQ(chained, whole);
  EXPECT_EQ(crc_paths::clmul(5, nullptr, 10), 0u);
}
