// Behaviour of the DEFLATE compressor that decides the bytes of an archive:
// block kinds, block ends, match rules, flags, checks and the sink.
#include <gtest/gtest.h>

#include <memory>

#include "test_deflate_support.h"

using namespace deflate_test;

namespace {

std::size_t count_matches(const Block& b) {
  std::size_t n = 0;
  for (const Symbol& s : b.symbols) n += s.length != 0;
  return n;
}

// A stream of literal and long-match groups that compresses far below half
// its size while fewer than half of its symbols are matches.
Bytes literal_heavy_with_long_copies(std::size_t units) {
  Bytes pool = random_bytes(2048, 77);
  Bytes r = random_bytes(units * 5, 78);
  Bytes b = pool;
  for (std::size_t u = 0; u < units; u++) {
    b.append(r, u * 5, 5);
    std::size_t off = (u * 397) % (pool.size() - 258);
    b.append(pool, off, 258);
  }
  return b;
}

}  // namespace

TEST(Deflate, EmptyInputIsOneFixedBlockOfTwoBytes) {
  for (int level = 1; level <= 8; level++) {
    Result r = compress("", Options{level});
    EXPECT_EQ(r.stream, Bytes("\x03\x00", 2)) << "level " << level;
    EXPECT_EQ(r.returned, 2u);
    EXPECT_EQ(r.failed_check, nullptr);
  }
}

TEST(Deflate, LevelMarksTheFlagWord) {
  for (int level = 1; level <= 8; level++) {
    Options o;
    o.level = level;
    Result r = compress("some text some text", o);
    uint16_t want = level <= 2 ? 0x0004 : level == 8 ? 0x0002 : 0;
    EXPECT_EQ(r.flags, want) << "level " << level;
  }
}

TEST(Deflate, RejectsLevelsOutsideOneToEight) {
  const Bytes input = low_entropy_bytes(20000, 5);
  for (int level : {0, 9, -3, 100}) {
    Result r = compress(input, Options{level});
    ASSERT_NE(r.failed_check, nullptr);
    EXPECT_STREQ(r.failed_check, "bad pack level");
    // The run still goes on and produces a valid stream.
    Bytes out;
    EXPECT_TRUE(inflate_raw(r.stream, &out));
    EXPECT_EQ(out, input);
  }
}

TEST(Deflate, IncompressibleDataComesOutStored) {
  const Bytes input = random_bytes(100000, 1);
  Result r = compress(input);
  ASSERT_EQ(r.failed_check, nullptr);
  std::vector<Block> blocks;
  Bytes out;
  ASSERT_TRUE(trace_blocks(r.stream, &blocks, &out));
  EXPECT_EQ(out, input);
  for (const Block& b : blocks) EXPECT_EQ(b.type, 0);
  // Every block costs five bytes of header (flag bits padded, then LEN, NLEN).
  EXPECT_EQ(r.stream.size(), input.size() + 5 * blocks.size());
}

TEST(Deflate, BlockWithoutMatchesDeclaresTwoDistanceCodes) {
  // Sixteen distinct bytes and no three-byte string twice: dynamic codes of
  // about four bits per literal, and nothing to match.
  const Bytes input = no_repeat_bytes(3000, 'a', 16, 9);
  ASSERT_GE(input.size(), 2500u);
  for (int level : {1, 3, 4, 8}) {
    Result r = compress(input, Options{level});
    std::vector<Block> blocks;
    ASSERT_TRUE(trace_blocks(r.stream, &blocks));
    ASSERT_EQ(blocks.size(), 1u);
    EXPECT_EQ(blocks[0].type, 2);
    EXPECT_EQ(count_matches(blocks[0]), 0u);
    EXPECT_EQ(blocks[0].hdist, 2) << "level " << level;
    // Only the literals in use and the end-of-block code are declared.
    EXPECT_EQ(blocks[0].hlit, 257);
  }
}

TEST(Deflate, ThreeByteMatchBeyond4096IsDroppedByTheLazyMatcherOnly) {
  Bytes filler = no_repeat_bytes(5100, 0x80, 32, 3);
  ASSERT_EQ(filler.size(), 5100u);
  // "xyz" twice, 5,003 bytes apart, each time between different bytes.
  Bytes input = filler.substr(0, 10) + "xyz" + filler.substr(10, 5000) + "xyz" + filler.substr(5010);
  ASSERT_NE(input[9], input[5012]);
  ASSERT_NE(input[13], input[5016]);

  std::vector<Block> blocks;
  Result lazy = compress(input, Options{8});
  ASSERT_TRUE(trace_blocks(lazy.stream, &blocks));
  std::size_t matches = 0;
  for (const Block& b : blocks) matches += count_matches(b);
  EXPECT_EQ(matches, 0u);

  Result fast = compress(input, Options{3});
  ASSERT_TRUE(trace_blocks(fast.stream, &blocks));
  std::vector<Symbol> found;
  for (const Block& b : blocks)
    for (const Symbol& s : b.symbols)
      if (s.length) found.push_back(s);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].length, 3u);
  EXPECT_EQ(found[0].distance, 5003u);

  // Closer than 4,096 bytes the lazy matcher keeps it.
  Bytes near = filler.substr(0, 10) + "xyz" + filler.substr(10, 4000) + "xyz" + filler.substr(4010, 500);
  ASSERT_TRUE(trace_blocks(compress(near, Options{8}).stream, &blocks));
  found.clear();
  for (const Block& b : blocks)
    for (const Symbol& s : b.symbols)
      if (s.length) found.push_back(s);
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].distance, 4003u);
}

TEST(Deflate, BlockEndsAfter32767Symbols) {
  const Bytes input = no_repeat_bytes(40000, 0x40, 64, 11);
  ASSERT_EQ(input.size(), 40000u);
  for (int level : {2, 8}) {
    std::vector<Block> blocks;
    ASSERT_TRUE(trace_blocks(compress(input, Options{level}).stream, &blocks));
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(blocks[0].symbols.size(), 32767u);
    EXPECT_EQ(blocks[1].symbols.size(), 40000u - 32767u);
  }
}

TEST(Deflate, BlockEndsEarlyAtA4096thSymbolFromLevelThree) {
  const Bytes input = literal_heavy_with_long_copies(1600);
  for (int level = 1; level <= 8; level++) {
    Result r = compress(input, Options{level});
    std::vector<Block> blocks;
    Bytes out;
    ASSERT_TRUE(trace_blocks(r.stream, &blocks, &out));
    ASSERT_EQ(out, input);
    ASSERT_GE(blocks.size(), 1u);
    if (level <= 2) {
      EXPECT_EQ(blocks.size(), 1u) << "level " << level;
    } else {
      ASSERT_GE(blocks.size(), 2u) << "level " << level;
      EXPECT_EQ(blocks[0].symbols.size(), 4096u) << "level " << level;
      for (std::size_t i = 0; i + 1 < blocks.size(); i++) EXPECT_EQ(blocks[i].symbols.size() % 4096, 0u);
    }
  }
}

TEST(Deflate, ReusedStateGivesTheSameBytesAsAFreshOne) {
  auto state = std::make_unique<quillon::DeflateState>();
  const Bytes inputs[] = {low_entropy_bytes(300000, 1), Bytes(), random_bytes(70000, 2),
                          low_entropy_bytes(1000, 3), Bytes(100000, 'z'), low_entropy_bytes(65400, 4)};
  for (int level : {1, 3, 8}) {
    for (const Bytes& in : inputs) {
      Result reused = compress(*state, in, Options{level});
      Result fresh = compress(in, Options{level});
      EXPECT_EQ(reused.stream, fresh.stream) << "level " << level << ", " << in.size() << " bytes";
      EXPECT_EQ(reused.failed_check, nullptr);
    }
  }
}

TEST(Deflate, OutputBufferSizeDoesNotChangeTheStream) {
  const Bytes input = low_entropy_bytes(120000, 8) + random_bytes(40000, 8);
  const Bytes expected = compress(input).stream;
  for (unsigned size : {2u, 3u, 5u, 64u, 1000u, 70000u}) {
    Options o;
    o.out_size = size;
    Result r = compress(input, o);
    EXPECT_EQ(r.failed_check, nullptr);
    EXPECT_EQ(r.stream, expected) << "buffer " << size;
  }
  // Kept in memory: the buffer holds the whole stream when it is big enough.
  Options mem;
  mem.out_size = 200000;
  mem.flush_when_full = 0;
  Result r = compress(input, mem);
  EXPECT_EQ(r.failed_check, nullptr);
  EXPECT_EQ(r.stream, expected);
}

TEST(Deflate, OutputBufferOfUnderTwoBytesFailsWithoutOverrun) {
  for (unsigned size : {0u, 1u}) {
    Options o;
    o.out_size = size;
    Result r = compress(low_entropy_bytes(5000, 2), o);
    EXPECT_STREQ(r.failed_check, "output buffer too small") << size;
    EXPECT_TRUE(r.guards_intact);
  }
}

TEST(Deflate, InputEndingInTheLastLookaheadOfTheWindowSucceeds) {
  // The data ends 136 bytes short of the window's top: the last matches are
  // searched beyond the point where a full lookahead would still fit.
  for (int level : {1, 4, 8}) {
    for (const Bytes& in : {Bytes(65400, 'q'), low_entropy_bytes(65400, 21)}) {
      Result r = compress(in, Options{level});
      EXPECT_EQ(r.failed_check, nullptr) << "level " << level << ": " << r.failed_check;
      Bytes out;
      ASSERT_TRUE(inflate_raw(r.stream, &out));
      EXPECT_EQ(out, in);
    }
  }
}

TEST(Deflate, InMemoryBufferTooSmallForAStoredBlockFails) {
  Options o;
  o.out_size = 1000;
  o.flush_when_full = 0;
  Result r = compress(random_bytes(5000, 3), o);
  ASSERT_NE(r.failed_check, nullptr);
  EXPECT_STREQ(r.failed_check, "output buffer too small for in-memory compression");
}

TEST(Deflate, FixedWindowTakesInputThatFitsAndFailsOnMore) {
  Options o;
  o.window_bytes = 40000;
  const Bytes input = low_entropy_bytes(39000, 13);
  Result r = compress(input, o);
  EXPECT_EQ(r.failed_check, nullptr);
  Bytes out;
  ASSERT_TRUE(inflate_raw(r.stream, &out));
  EXPECT_EQ(out, input);
  EXPECT_EQ(r.stream, compress(input).stream);

  r = compress(low_entropy_bytes(41000, 13), o);
  EXPECT_STREQ(r.failed_check, "more < 2");
}

TEST(Deflate, ShortReadsStillRoundTrip) {
  const Bytes input = low_entropy_bytes(150000, 12) + random_bytes(30000, 12);
  for (unsigned chunk : {1u, 7u, 300u, 40000u}) {
    Options o;
    o.read_chunk = chunk;
    Result r = compress(input, o);
    EXPECT_EQ(r.failed_check, nullptr);
    Bytes out;
    ASSERT_TRUE(inflate_raw(r.stream, &out)) << "chunk " << chunk;
    EXPECT_EQ(out, input);
  }
}

TEST(Deflate, TextDetectionRunsOnlyWhenAskedFor) {
  Options o;
  o.attr = 0xFFFF;
  EXPECT_EQ(compress("Plain words, and more plain words.\n", o).attr, 1);
  EXPECT_EQ(compress(random_bytes(3000, 4), o).attr, 0);
  o.attr = 0;
  EXPECT_EQ(compress("Plain words, and more plain words.\n", o).attr, 0);
}

TEST(Deflate, SinkThatStopsAcceptingFailsTheRunWithoutOverrun) {
  const Bytes input = low_entropy_bytes(200000, 6) + random_bytes(50000, 6);
  for (bool partial : {false, true}) {
    for (int ok_calls : {0, 1, 3}) {
      Options o;
      o.out_size = 64;
      o.sink_ok_calls = ok_calls;
      o.sink_partial = partial;
      Result r = compress(input, o);
      EXPECT_STREQ(r.failed_check, "output refused by the sink");
      EXPECT_TRUE(r.guards_intact);
      // The sink is not called again once it has failed.
      EXPECT_EQ(r.sink_refusals, 1u);
    }
  }
}

TEST(DeflateCoder, LongCodesAreCappedAtFifteenBits) {
  // Fibonacci-like frequencies make a Huffman tree deeper than 15 levels;
  // the coder must flatten it and still produce a complete code.
  Bytes input;
  uint32_t a = 1, b = 1;
  for (int sym = 0; sym < 25; sym++) {
    input.append(a, static_cast<char>('A' + sym));
    uint32_t c = a + b;
    a = b;
    b = c;
    if (input.size() > 200000) break;
  }
  // Shuffle the bytes so that no matches form.
  Bytes mixed;
  uint32_t x = 12345;
  Bytes pool = input;
  while (!pool.empty()) {
    x = x * 1103515245u + 12345u;
    std::size_t i = (x >> 8) % pool.size();
    mixed.push_back(pool[i]);
    pool[i] = pool.back();
    pool.pop_back();
  }
  for (int level : {1, 8}) {
    Result r = compress(mixed, Options{level});
    EXPECT_EQ(r.failed_check, nullptr);
    Bytes out;
    ASSERT_TRUE(inflate_raw(r.stream, &out));
    EXPECT_EQ(out, mixed);
  }
}
