// Internals shared by the two halves of the DEFLATE compressor: the block
// coder (deflate_tree.cpp) and the matcher (deflate_match.cpp). Callers use
// deflate.h only.
#pragma once

#include "zip/deflate/deflate.h"

namespace quillon {

// Extra bits per length code, distance code and code-length code, and the
// order in which the code-length code lengths are sent (RFC 1951).
extern const int extra_lbits[kLengthCodes];
extern const int extra_dbits[kDistCodes];
extern const int extra_blbits[kBlCodes];
extern const uint8_t bl_order[kBlCodes];

extern const char kSinkFailed[];

// Search effort of one compression level.
struct config {
  uint16_t good_length;  // from this previous match length on, search a quarter of the chain
  uint16_t max_lazy;     // lazy: no search after a match this long; fast: longest match whose strings are inserted
  uint16_t nice_length;  // stop searching at this length
  uint16_t max_chain;    // candidates examined
};
extern const config configuration_table[10];

// An internal consistency check: a failed condition records its message and
// the run goes on as if it had held.
inline void Assert(DeflateState& s, bool ok, const char* message) {
  if (__builtin_expect(!ok, 0)) s.failed_check = message;
}

// Distance code of a distance minus one (0..32767).
inline unsigned dist_code(const TTreeState& ts, unsigned dist) {
  return dist < 256 ? ts.dist_to_code[dist] : ts.dist_to_code[256 + ((dist >> 7) & 255)];
}

// Block coder operations.
void init_block(DeflateState& s);
void pqdownheap(DeflateState& s, const ct_data* tree, int k);
void gen_bitlen(DeflateState& s, tree_desc* desc);
void gen_codes(DeflateState& s, ct_data* tree, int max_code);
void build_tree(DeflateState& s, tree_desc* desc);
void scan_tree(DeflateState& s, ct_data* tree, int max_code);
void send_tree(DeflateState& s, const ct_data* tree, int max_code);
int build_bl_tree(DeflateState& s);
void send_all_trees(DeflateState& s, int lcodes, int dcodes, int blcodes);
void compress_block(DeflateState& s, const ct_data* ltree, const ct_data* dtree);
void set_file_type(DeflateState& s);
unsigned bi_reverse(unsigned code, int len);
void bi_windup(DeflateState& s);
void copy_block(DeflateState& s, const char* buf, unsigned len, int header);
// Writes the buffered symbols as one block (the last when last is 1); buf is
// the block's input in the window, or null once it has slid out. Returns the
// compressed length of the stream so far.
unsigned long flush_block(DeflateState& s, char* buf, unsigned long stored_len, int last);

// Matcher operations.
void fill_window(DeflateState& s);
unsigned longest_match(DeflateState& s, unsigned cand);

// Hands the output buffer to the sink (or drops it once the sink has failed).
void flush_outbuf(DeflateState& s);
// The early block end tested at every 4096th symbol from level 3.
bool block_worth_ending(DeflateState& s);

// An output buffer of fewer than two bytes cannot take the bits: they are
// dropped and the run fails.
inline void no_room(DeflateState& s) { s.failed_check = "output buffer too small"; }

// Appends two bytes, low first, making room when fewer than two are free.
inline void put_short(DeflateState& s, unsigned w) {
  TBitState& b = s.bs;
  if (b.out_used + 2 > b.out_capacity) {
    flush_outbuf(s);
    if (b.out_used + 2 > b.out_capacity) return no_room(s);
  }
  b.out_block[b.out_used] = static_cast<char>(w & 0xFF);
  b.out_block[b.out_used + 1] = static_cast<char>((w >> 8) & 0xFF);
  b.out_used += 2;
}

inline void put_byte(DeflateState& s, unsigned c) {
  TBitState& b = s.bs;
  if (b.out_used + 1 > b.out_capacity) {
    flush_outbuf(s);
    if (b.out_used + 1 > b.out_capacity) return no_room(s);
  }
  b.out_block[b.out_used++] = static_cast<char>(c & 0xFF);
}

// Sends value in length bits (1..15), least significant bit first.
inline void send_bits(DeflateState& s, unsigned value, int length) {
  TBitState& b = s.bs;
  Assert(s, length >= 1 && length <= 15, "invalid length");
  b.bits_total += static_cast<uint32_t>(length);
  b.bit_acc |= value << b.bit_count;
  b.bit_count += length;
  if (b.bit_count > 16) {
    put_short(s, b.bit_acc);
    b.bit_count -= 16;
    b.bit_acc = value >> (length - b.bit_count);
  }
}

// Buffers one symbol: the literal lc when dist is 0, else a match of distance
// dist and length lc + 3. Answers whether the block should end now.
inline __attribute__((always_inline)) bool ct_tally(DeflateState& s, int dist, int lc) {
  TTreeState& ts = s.ts;
  ts.lit_buf[ts.last_lit++] = static_cast<uint8_t>(lc);
  if (dist == 0) {
    ts.lit_tree[lc & 0xFF].freq_or_code++;
  } else {
    unsigned d = static_cast<unsigned>(dist) - 1;
    unsigned code = d < 32768 ? dist_code(ts, d) : kDistCodes;
    Assert(s, d < kMaxDist && static_cast<unsigned>(lc) <= 255 && code < kDistCodes, "ct_tally: bad match");
    ts.lit_tree[ts.len_to_code[lc & 0xFF] + kLiterals + 1].freq_or_code++;
    if (code < kDistCodes) ts.dist_tree[code].freq_or_code++;
    ts.dist_buf[ts.last_dist++] = static_cast<uint16_t>(d);
    ts.pending_flags |= ts.pending_bit;
  }
  ts.pending_bit = static_cast<uint8_t>(ts.pending_bit << 1);
  if ((ts.last_lit & 7) == 0) {
    ts.kind_flags[ts.kind_flags_used++] = ts.pending_flags;
    ts.pending_flags = 0;
    ts.pending_bit = 1;
  }
  if ((ts.last_lit & 0xFFF) == 0 && s.level > 2 && block_worth_ending(s)) return true;
  return ts.last_lit == kLitBufSize - 1 || ts.last_dist == kDistBufSize;
}

}  // namespace quillon
