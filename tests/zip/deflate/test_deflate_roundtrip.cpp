// Round trips: what the compressor writes, zlib's raw inflate restores,
// at every level, across window slides and block ends.
#include <gtest/gtest.h>

#include <memory>

#include "test_deflate_support.h"

using namespace deflate_test;

namespace {

void expect_round_trip(quillon::DeflateState& state, const Bytes& input, int level, const char* kind) {
  Result r = compress(state, input, Options{level});
  EXPECT_EQ(r.failed_check, nullptr) << kind << " " << input.size() << " level " << level << ": "
                                     << (r.failed_check ? r.failed_check : "");
  EXPECT_EQ(r.returned, r.stream.size());
  Bytes out;
  ASSERT_TRUE(inflate_raw(r.stream, &out)) << kind << " " << input.size() << " level " << level;
  ASSERT_EQ(out.size(), input.size()) << kind << " level " << level;
  ASSERT_TRUE(out == input) << kind << " " << input.size() << " level " << level;
}

// Sizes around the edges that matter: tiny inputs, the lookahead, the
// first slide at 65,274 and the end of a full window.
const std::size_t kEdgeSizes[] = {0,     1,     2,     3,     4,     258,   261,   262,   263,   4096,  32768,
                                  65012, 65273, 65274, 65275, 65400, 65535, 65536, 65537, 65800, 98304, 131072};

}  // namespace

class DeflateRoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(DeflateRoundTrip, EdgeSizes) {
  const int level = GetParam();
  auto state = std::make_unique<quillon::DeflateState>();
  for (std::size_t n : kEdgeSizes) {
    expect_round_trip(*state, random_bytes(n, static_cast<uint32_t>(n)), level, "random");
    expect_round_trip(*state, low_entropy_bytes(n, static_cast<uint32_t>(n)), level, "low-entropy");
    expect_round_trip(*state, Bytes(n, '\0'), level, "zeros");
  }
}

TEST_P(DeflateRoundTrip, RandomSizesUpTo300KiB) {
  const int level = GetParam();
  auto state = std::make_unique<quillon::DeflateState>();
  uint32_t x = 0x1234567u + static_cast<uint32_t>(level);
  for (int i = 0; i < 4; i++) {
    x = x * 1664525u + 1013904223u;
    std::size_t n = (x >> 8) % (300 * 1024 + 1);
    expect_round_trip(*state, random_bytes(n, x), level, "random");
    expect_round_trip(*state, low_entropy_bytes(n, x), level, "low-entropy");
    // Text-like and binary mixed, so blocks change kind along the way.
    Bytes mixed = low_entropy_bytes(n / 2, x + 1) + random_bytes(n / 4, x + 2) + low_entropy_bytes(n / 4, x + 3);
    expect_round_trip(*state, mixed, level, "mixed");
  }
}

INSTANTIATE_TEST_SUITE_P(Levels, DeflateRoundTrip, ::testing::Range(1, 9));
