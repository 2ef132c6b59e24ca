// Helpers of the DEFLATE compressor tests: run the compressor over a byte
// string, inflate with zlib, and take a stream apart block by block.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/testkit.h"
#include "zip/deflate/deflate.h"

namespace deflate_test {

using Bytes = std::string;

struct Options {
  int level = 8;
  unsigned out_size = 16384;
  int flush_when_full = 1;
  unsigned read_chunk = 0;  // 0: as much as asked for
  uint16_t attr = 0;
  unsigned window_bytes = 0; // 0: the sliding window
  int sink_ok_calls = -1;    // calls the sink takes before it fails; -1: all
  bool sink_partial = false; // it fails by writing one byte, else none
};

struct Result {
  Bytes stream;              // every byte the sink received (and, without
                             // flush_when_full, what stayed in the buffer)
  unsigned long returned = 0;
  uint16_t flags = 0;
  uint16_t attr = 0;
  const char* failed_check = nullptr;
  unsigned sink_refusals = 0;  // calls the failing sink refused
  bool guards_intact = true;   // nothing was written around the output buffer
};

// Compresses input as the archive writer does, on the given (reused) state.
Result compress(quillon::DeflateState& state, const Bytes& input, const Options& options = {});
// The same on a fresh state.
Result compress(const Bytes& input, const Options& options = {});

// zlib's raw inflate, from the shared support module.
using testkit::inflate_raw;

// One symbol of a block: a literal (length 0) or a match.
struct Symbol {
  unsigned literal = 0;
  unsigned length = 0;
  unsigned distance = 0;
};

struct Block {
  int type = 0;  // 0 stored, 1 fixed, 2 dynamic
  bool last = false;
  int hlit = 0, hdist = 0, hclen = 0;  // counts declared by a dynamic block
  std::vector<Symbol> symbols;        // end of block not included
  unsigned stored_len = 0;
};

// Decodes a raw DEFLATE stream into its blocks; false on a malformed stream.
// The decoded bytes go to *out when given.
bool trace_blocks(const Bytes& stream, std::vector<Block>* blocks, Bytes* out = nullptr);

// Test data.
Bytes random_bytes(std::size_t n, uint32_t seed);
// Bytes from a small alphabet with repeats: compresses well.
Bytes low_entropy_bytes(std::size_t n, uint32_t seed);
// n bytes drawn from 'alphabet' bytes starting at 'first', in which no three
// consecutive bytes occur twice.
Bytes no_repeat_bytes(std::size_t n, unsigned first, unsigned alphabet, uint32_t seed);

}  // namespace deflate_test
