#include <gtest/gtest.h>

#include <algorithm>

#include "platform/random.h"

TEST(Random, DrawsTheWindowsRuntimeSequence) {
  // The first draws of the Windows C runtime after srand(1), and after srand(0).
  qp::seed_random(1);
  const int seeded1[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358};
  for (int v : seeded1) EXPECT_EQ(qp::next_random(), v);
  qp::seed_random(0);
  EXPECT_EQ(qp::next_random(), 38);
  EXPECT_EQ(qp::next_random(), 7719);
}

TEST(Random, StaysWithinFifteenBits) {
  qp::seed_random(0xDEADBEEF);
  int high = 0;
  for (int i = 0; i < 100000; ++i) {
    int v = qp::next_random();
    ASSERT_GE(v, 0);
    ASSERT_LE(v, 32767);
    high = std::max(high, v);
  }
  EXPECT_GT(high, 32700);
}
