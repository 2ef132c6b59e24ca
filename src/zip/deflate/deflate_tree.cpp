// The block coder of the DEFLATE compressor.
//
// What: the half of the compressor that writes bits. It buffers the
// matcher's literals and matches (ct_tally, in deflate_internal.h), and when
// a block ends it builds the block's Huffman codes, chooses the cheapest of
// the three block types of RFC 1951 (stored, fixed codes, dynamic codes) and
// emits the block into the caller's output buffer, which it hands to the
// sink whenever it fills.
//
// Buffering: a literal is one byte in lit_buf; a match is its length - 3 in
// lit_buf, its distance - 1 in dist_buf, and a set bit in kind_flags, one bit
// per symbol. Symbol frequencies are counted as they arrive. A block ends
// when a buffer is full, or, from level 3 up, at every 4096th symbol when an
// estimate says the block already compresses well and matches have become
// rare (block_worth_ending): the next block then gets codes fitted to the
// data that follows.
//
// Building a code (build_tree, gen_bitlen, gen_codes): the classic Huffman
// construction over a binary heap, joining the two least frequent nodes
// until one is left; ties go to the shallower subtree, which keeps codes
// short. DEFLATE limits codes to 15 bits (7 for the code-length alphabet), so
// when the optimal tree is deeper, the overflowing leaves are moved up beside
// leaves that can still go one level deeper, and the lengths are handed out
// again, longest first, to symbols in order of rising frequency. The codes
// themselves follow from the lengths alone (canonical Huffman codes, RFC 1951
// section 3.2.2) and are stored bit-reversed, because DEFLATE sends codes
// most significant bit first inside a least-significant-bit-first stream.
//
// Choosing the block type: while building the trees the coder counts exactly
// how many bits the block would take with the dynamic codes (the code-length
// header included, sent as runs with symbols 16, 17 and 18) and with the
// fixed codes. The cheaper of the two wins, and a stored block wins over both
// when its input is still in the window, fits the 16-bit length field and
// costs no more. The sizes are tracked to the bit, and a check compares the
// count against the bits actually sent.
//
// Sending bits: send_bits gathers bits in a 32-bit accumulator and leaves two
// bytes at a time. compress_block, which sends every symbol of a block, keeps
// a 64-bit accumulator in a register instead and writes the same bytes at the
// same moments with far fewer trips through memory.
//
// Length and distance codes are found through tables built once per item by
// ct_init (len_to_code, and dist_code's table for distances up to 256 and in
// steps of 128 above), so coding a symbol is a few lookups.
#include <cstring>

#include "zip/deflate/deflate_internal.h"

namespace quillon {

const int extra_lbits[kLengthCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                       2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
const int extra_dbits[kDistCodes] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                     6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
const int extra_blbits[kBlCodes] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 2, 3, 7};
const uint8_t bl_order[kBlCodes] = {16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15};

const char kSinkFailed[] = "output refused by the sink";

namespace {

constexpr int kEndBlock = 256;
constexpr int kRep3To6 = 16;     // repeat the previous length 3..6 times
constexpr int kRepz3To10 = 17;   // a run of 3..10 zero lengths
constexpr int kRepz11To138 = 18; // a run of 11..138 zero lengths

inline uint16_t& freq(ct_data& c) { return c.freq_or_code; }
inline uint16_t freq(const ct_data& c) { return c.freq_or_code; }
inline uint16_t& len(ct_data& c) { return c.parent_or_len; }
inline uint16_t len(const ct_data& c) { return c.parent_or_len; }

inline void send_code(DeflateState& s, int c, const ct_data* tree) {
  send_bits(s, tree[c].freq_or_code, tree[c].parent_or_len);
}

// Node a sorts before node b: smaller frequency, or equal frequency and a
// subtree no deeper.
inline bool smaller(const ct_data* tree, const uint8_t* depth, int a, int b) {
  return tree[a].freq_or_code < tree[b].freq_or_code ||
         (tree[a].freq_or_code == tree[b].freq_or_code && depth[a] <= depth[b]);
}

// Hands len bytes at buf to the sink; a sink that does not take them all
// marks the run failed, and from then on nothing more is handed over.
void sink_write(DeflateState& s, const char* buf, unsigned len) {
  TBitState& b = s.bs;
  if (len == 0 || b.sink_failed) return;
  unsigned size = len;
  unsigned wrote = s.flush_output ? s.flush_output(s.context, buf, &size) : 0;
  if (size != 0 || wrote != len) {
    b.sink_failed = true;
    s.failed_check = kSinkFailed;
  }
}

}  // namespace

DeflateState::DeflateState() : context(nullptr), level(0), read_input(nullptr), flush_output(nullptr), failed_check(nullptr) {
  std::memset(&ts, 0, sizeof ts);
  std::memset(&bs, 0, sizeof bs);
  std::memset(&ds, 0, sizeof ds);
  ts.lit_desc = {ts.lit_tree, ts.static_lit_tree, extra_lbits, kLiterals + 1, kLitCodes, kMaxBits, 0};
  ts.dist_desc = {ts.dist_tree, ts.static_dist_tree, extra_dbits, 0, kDistCodes, kMaxBits, 0};
  ts.bl_desc = {ts.bl_tree, nullptr, extra_blbits, 0, kBlCodes, kMaxBlBits, 0};
}

// ---------------------------------------------------------------------------
// Bit output

void bi_init(DeflateState& s, char* out_buf, unsigned out_size, int flush_when_full) {
  TBitState& b = s.bs;
  b.out_block = out_buf;
  b.out_capacity = out_buf ? out_size : 0;
  b.flush_when_full = flush_when_full;
  b.out_used = 0;
  b.bit_acc = 0;
  b.bit_count = 0;
  b.bits_total = 0;
  b.sink_failed = false;
}

void flush_outbuf(DeflateState& s) {
  TBitState& b = s.bs;
  sink_write(s, b.out_block, b.out_used);
  b.out_used = 0;
}

unsigned bi_reverse(unsigned code, int len) {
  unsigned res = 0;
  do {
    res |= code & 1;
    code >>= 1;
    res <<= 1;
  } while (--len > 0);
  return res >> 1;
}

void bi_windup(DeflateState& s) {
  TBitState& b = s.bs;
  if (b.bit_count > 8) {
    put_short(s, b.bit_acc);
  } else if (b.bit_count > 0) {
    put_byte(s, b.bit_acc);
  }
  if (b.flush_when_full) flush_outbuf(s);
  b.bit_acc = 0;
  b.bit_count = 0;
  b.bits_total = (b.bits_total + 7) & ~7u;
}

void copy_block(DeflateState& s, const char* buf, unsigned len, int header) {
  TBitState& b = s.bs;
  bi_windup(s);
  if (header) {
    put_short(s, len & 0xFFFF);
    put_short(s, ~len & 0xFFFF);
    b.bits_total += 32;
  }
  if (b.flush_when_full) {
    // The block's bytes go to the sink straight from the window.
    flush_outbuf(s);
    sink_write(s, buf, len);
  } else if (len <= b.out_capacity && b.out_used <= b.out_capacity - len) {
    std::memcpy(b.out_block + b.out_used, buf, len);
    b.out_used += len;
  } else {
    Assert(s, false, "output buffer too small for in-memory compression");
  }
  b.bits_total += 8 * len;
}

// ---------------------------------------------------------------------------
// Tables and blocks

void ct_init(DeflateState& s, uint16_t* attr) {
  TTreeState& ts = s.ts;
  ts.text_attr = attr;
  ts.out_bytes = 0;
  ts.out_extra_bits = 0;
  if (len(ts.static_dist_tree[0]) != 0) return;  // tables already built

  // Length codes: len_base in units of length - 3.
  int length = 0;
  int code;
  for (code = 0; code < kLengthCodes - 1; code++) {
    ts.len_base[code] = length;
    for (int n = 0; n < (1 << extra_lbits[code]); n++) ts.len_to_code[length++ & 255] = static_cast<uint8_t>(code);
  }
  Assert(s, length == 256, "ct_init: length != 256");
  // Length 258 has a code of its own; it takes the last entry of code 27.
  ts.len_to_code[255] = static_cast<uint8_t>(kLengthCodes - 1);
  ts.len_base[kLengthCodes - 1] = 255;

  // Distance codes 0..15 cover distances 1..256 one by one; codes 16..29
  // cover the rest in steps of 128.
  int dist = 0;
  for (code = 0; code < 16; code++) {
    ts.dist_base[code] = dist;
    for (int n = 0; n < (1 << extra_dbits[code]); n++) ts.dist_to_code[dist++] = static_cast<uint8_t>(code);
  }
  Assert(s, dist == 256, "ct_init: dist != 256");
  dist >>= 7;
  for (; code < kDistCodes; code++) {
    ts.dist_base[code] = dist << 7;
    for (int n = 0; n < (1 << (extra_dbits[code] - 7)); n++) {
      if (256 + dist < 512) ts.dist_to_code[256 + dist] = static_cast<uint8_t>(code);
      dist++;
    }
  }
  Assert(s, dist == 256, "ct_init: 256+dist != 512");

  // The fixed trees of RFC 1951.
  std::memset(ts.codes_per_len, 0, sizeof ts.codes_per_len);
  int n = 0;
  while (n <= 143) len(ts.static_lit_tree[n++]) = 8, ts.codes_per_len[8]++;
  while (n <= 255) len(ts.static_lit_tree[n++]) = 9, ts.codes_per_len[9]++;
  while (n <= 279) len(ts.static_lit_tree[n++]) = 7, ts.codes_per_len[7]++;
  while (n <= 287) len(ts.static_lit_tree[n++]) = 8, ts.codes_per_len[8]++;
  gen_codes(s, ts.static_lit_tree, kLitCodes + 1);
  for (n = 0; n < kDistCodes; n++) {
    len(ts.static_dist_tree[n]) = 5;
    freq(ts.static_dist_tree[n]) = static_cast<uint16_t>(bi_reverse(n, 5));
  }
  init_block(s);
}

void init_block(DeflateState& s) {
  TTreeState& ts = s.ts;
  for (int n = 0; n < kLitCodes; n++) freq(ts.lit_tree[n]) = 0;
  for (int n = 0; n < kDistCodes; n++) freq(ts.dist_tree[n]) = 0;
  for (int n = 0; n < kBlCodes; n++) freq(ts.bl_tree[n]) = 0;
  freq(ts.lit_tree[kEndBlock]) = 1;
  ts.dyn_bits = ts.fixed_bits = 0;
  ts.last_lit = ts.last_dist = ts.kind_flags_used = 0;
  ts.pending_flags = 0;
  ts.pending_bit = 1;
}

bool block_worth_ending(DeflateState& s) {
  const TTreeState& ts = s.ts;
  uint32_t out = ts.last_lit * 8u;
  for (int code = 0; code < kDistCodes; code++)
    out += freq(ts.dist_tree[code]) * static_cast<uint32_t>(5 + extra_dbits[code]);
  out >>= 3;
  int64_t in = static_cast<int64_t>(s.ds.cursor) - s.ds.block_origin;
  return ts.last_dist < ts.last_lit / 2 && static_cast<int64_t>(out) < in / 2;
}

// ---------------------------------------------------------------------------
// Tree construction

void pqdownheap(DeflateState& s, const ct_data* tree, int k) {
  TTreeState& ts = s.ts;
  int* heap = ts.heap;
  const uint8_t* depth = ts.node_depth;
  int v = heap[k];
  int j = k << 1;
  while (j <= ts.heap_size) {
    if (j < ts.heap_size && smaller(tree, depth, heap[j + 1], heap[j])) j++;
    if (smaller(tree, depth, v, heap[j])) break;
    heap[k] = heap[j];
    k = j;
    j <<= 1;
  }
  heap[k] = v;
}

void gen_bitlen(DeflateState& s, tree_desc* desc) {
  TTreeState& ts = s.ts;
  ct_data* tree = desc->tree;
  const ct_data* stree = desc->fixed;
  const int* extra = desc->extra;
  const int base = desc->extra_first;
  const int max_code = desc->max_code;
  const int max_length = desc->length_cap;
  int overflow = 0;

  for (int bits = 0; bits <= kMaxBits; bits++) ts.codes_per_len[bits] = 0;
  // Lengths of the root and then, walking down from it, of every node.
  len(tree[ts.heap[ts.heap_top]]) = 0;
  int h;
  for (h = ts.heap_top + 1; h < kHeapSize; h++) {
    int n = ts.heap[h];
    int bits = len(tree[len(tree[n])]) + 1;  // the parent already holds its length
    if (bits > max_length) bits = max_length, overflow++;
    len(tree[n]) = static_cast<uint16_t>(bits);
    if (n > max_code) continue;  // an inner node
    ts.codes_per_len[bits]++;
    int xbits = n >= base ? extra[n - base] : 0;
    uint32_t f = freq(tree[n]);
    ts.dyn_bits += f * static_cast<uint32_t>(bits + xbits);
    if (stree) ts.fixed_bits += f * static_cast<uint32_t>(len(stree[n]) + xbits);
  }
  if (overflow == 0) return;

  // Some codes came out longer than allowed. Take the deepest leaves that
  // can still go deeper and move overflowing leaves up beside them.
  do {
    int bits = max_length - 1;
    while (ts.codes_per_len[bits] == 0) bits--;
    ts.codes_per_len[bits]--;
    ts.codes_per_len[bits + 1] += 2;
    ts.codes_per_len[max_length]--;
    overflow -= 2;
  } while (overflow > 0);

  // Hand the new lengths out again, longest first, to the symbols in order
  // of rising frequency.
  h = kHeapSize;
  for (int bits = max_length; bits != 0; bits--) {
    int n = ts.codes_per_len[bits];
    while (n != 0) {
      int m = ts.heap[--h];
      if (m > max_code) continue;
      if (len(tree[m]) != bits) {
        ts.dyn_bits += static_cast<uint32_t>((bits - static_cast<int>(len(tree[m]))) * static_cast<int>(freq(tree[m])));
        len(tree[m]) = static_cast<uint16_t>(bits);
      }
      n--;
    }
  }
}

void gen_codes(DeflateState& s, ct_data* tree, int max_code) {
  const uint16_t* count = s.ts.codes_per_len;
  unsigned next_code[kMaxBits + 1];
  unsigned code = 0;
  next_code[0] = 0;
  for (int bits = 1; bits <= kMaxBits; bits++) {
    code = (code + count[bits - 1]) << 1;
    next_code[bits] = code;
  }
  Assert(s, next_code[kMaxBits] + count[kMaxBits] == 1u << kMaxBits, "inconsistent bit counts");
  for (int n = 0; n <= max_code; n++) {
    int l = len(tree[n]);
    if (l == 0) continue;
    freq(tree[n]) = static_cast<uint16_t>(bi_reverse(next_code[l]++, l));
  }
}

void build_tree(DeflateState& s, tree_desc* desc) {
  TTreeState& ts = s.ts;
  ct_data* tree = desc->tree;
  const ct_data* stree = desc->fixed;
  const int elems = desc->symbols;
  int* heap = ts.heap;
  int max_code = -1;

  ts.heap_size = 0;
  ts.heap_top = kHeapSize;
  for (int n = 0; n < elems; n++) {
    if (freq(tree[n]) != 0) {
      heap[++ts.heap_size] = max_code = n;
      ts.node_depth[n] = 0;
    } else {
      len(tree[n]) = 0;
    }
  }

  // A code needs two symbols at least: force symbols in with frequency 1
  // (they cost one bit each, which the estimates take back).
  while (ts.heap_size < 2) {
    int node = heap[++ts.heap_size] = (max_code < 2 ? ++max_code : 0);
    freq(tree[node]) = 1;
    ts.node_depth[node] = 0;
    ts.dyn_bits--;
    if (stree) ts.fixed_bits -= len(stree[node]);
  }
  desc->max_code = max_code;

  for (int n = ts.heap_size / 2; n >= 1; n--) pqdownheap(s, tree, n);

  // Join the two least frequent nodes until one is left. Inner nodes are
  // numbered from elems up; the heap's tail collects nodes by frequency.
  int node = elems;
  do {
    int n = heap[1];
    heap[1] = heap[ts.heap_size--];
    pqdownheap(s, tree, 1);
    int m = heap[1];
    heap[--ts.heap_top] = n;
    heap[--ts.heap_top] = m;
    freq(tree[node]) = static_cast<uint16_t>(freq(tree[n]) + freq(tree[m]));
    uint8_t dn = ts.node_depth[n], dm = ts.node_depth[m];
    ts.node_depth[node] = static_cast<uint8_t>((dn >= dm ? dn : dm) + 1);
    len(tree[n]) = len(tree[m]) = static_cast<uint16_t>(node);  // parent
    heap[1] = node++;
    pqdownheap(s, tree, 1);
  } while (ts.heap_size >= 2);
  heap[--ts.heap_top] = heap[1];

  gen_bitlen(s, desc);
  gen_codes(s, tree, max_code);
}

// The code lengths of a tree go out as runs. These two walk the runs the
// same way: scan_tree counts the code-length symbols, send_tree sends them.
void scan_tree(DeflateState& s, ct_data* tree, int max_code) {
  ct_data* bl = s.ts.bl_tree;
  int prevlen = -1;
  int nextlen = len(tree[0]);
  int count = 0;
  int max_count = 7, min_count = 4;
  if (nextlen == 0) max_count = 138, min_count = 3;
  len(tree[max_code + 1]) = 0xFFFF;  // guard

  for (int n = 0; n <= max_code; n++) {
    int curlen = nextlen;
    nextlen = len(tree[n + 1]);
    if (++count < max_count && curlen == nextlen) continue;
    if (count < min_count) {
      freq(bl[curlen]) = static_cast<uint16_t>(freq(bl[curlen]) + count);
    } else if (curlen != 0) {
      if (curlen != prevlen) freq(bl[curlen])++;
      freq(bl[kRep3To6])++;
    } else if (count <= 10) {
      freq(bl[kRepz3To10])++;
    } else {
      freq(bl[kRepz11To138])++;
    }
    count = 0;
    prevlen = curlen;
    if (nextlen == 0) {
      max_count = 138, min_count = 3;
    } else if (curlen == nextlen) {
      max_count = 6, min_count = 3;
    } else {
      max_count = 7, min_count = 4;
    }
  }
}

void send_tree(DeflateState& s, const ct_data* tree, int max_code) {
  const ct_data* bl = s.ts.bl_tree;
  int prevlen = -1;
  int nextlen = len(tree[0]);
  int count = 0;
  int max_count = 7, min_count = 4;
  if (nextlen == 0) max_count = 138, min_count = 3;
  // tree[max_code + 1] still holds the guard that scan_tree set.

  for (int n = 0; n <= max_code; n++) {
    int curlen = nextlen;
    nextlen = len(tree[n + 1]);
    if (++count < max_count && curlen == nextlen) continue;
    if (count < min_count) {
      do send_code(s, curlen, bl);
      while (--count != 0);
    } else if (curlen != 0) {
      if (curlen != prevlen) {
        send_code(s, curlen, bl);
        count--;
      }
      Assert(s, count >= 3 && count <= 6, " 3_6?");
      send_code(s, kRep3To6, bl);
      send_bits(s, count - 3, 2);
    } else if (count <= 10) {
      send_code(s, kRepz3To10, bl);
      send_bits(s, count - 3, 3);
    } else {
      send_code(s, kRepz11To138, bl);
      send_bits(s, count - 11, 7);
    }
    count = 0;
    prevlen = curlen;
    if (nextlen == 0) {
      max_count = 138, min_count = 3;
    } else if (curlen == nextlen) {
      max_count = 6, min_count = 3;
    } else {
      max_count = 7, min_count = 4;
    }
  }
}

int build_bl_tree(DeflateState& s) {
  TTreeState& ts = s.ts;
  scan_tree(s, ts.lit_tree, ts.lit_desc.max_code);
  scan_tree(s, ts.dist_tree, ts.dist_desc.max_code);
  build_tree(s, &ts.bl_desc);
  // The last code-length code sent is the last in bl_order with a length;
  // at least four are always sent.
  int max_bl;
  for (max_bl = kBlCodes - 1; max_bl > 3; max_bl--) {
    if (len(ts.bl_tree[bl_order[max_bl]]) != 0) break;
  }
  ts.dyn_bits += 3 * (max_bl + 1) + 5 + 5 + 4;
  return max_bl;
}

void send_all_trees(DeflateState& s, int lcodes, int dcodes, int blcodes) {
  TTreeState& ts = s.ts;
  Assert(s, lcodes >= 257 && dcodes >= 1 && blcodes >= 4, "not enough codes");
  Assert(s, lcodes <= kLitCodes && dcodes <= kDistCodes && blcodes <= kBlCodes, "too many codes");
  send_bits(s, lcodes - 257, 5);
  send_bits(s, dcodes - 1, 5);
  send_bits(s, blcodes - 4, 4);
  for (int rank = 0; rank < blcodes; rank++) send_bits(s, len(ts.bl_tree[bl_order[rank]]), 3);
  send_tree(s, ts.lit_tree, lcodes - 1);
  send_tree(s, ts.dist_tree, dcodes - 1);
}

// Sends the buffered symbols with the given trees, then the end of block.
// The bits gather in a 64-bit register and leave two bytes at a time, as
// send_bits lets them: the output buffer sees the same bytes at the same
// moments, with far fewer trips through memory.
void compress_block(DeflateState& s, const ct_data* ltree, const ct_data* dtree) {
  TTreeState& ts = s.ts;
  TBitState& b = s.bs;
  uint64_t acc = b.bit_acc;
  unsigned n = static_cast<unsigned>(b.bit_count);
  uint32_t total = 0;
  unsigned bad_length = 0;
  auto put = [&](unsigned value, unsigned length) {
    acc |= static_cast<uint64_t>(value) << n;
    n += length;
    total += length;
  };
  auto put_code = [&](const ct_data& c) {
    bad_length |= (c.parent_or_len - 1u) >= 15u;  // a code of 1 to 15 bits
    put(c.freq_or_code, c.parent_or_len);
  };
  auto drain = [&]() {
    while (n > 16) {
      put_short(s, static_cast<unsigned>(acc & 0xFFFF));
      acc >>= 16;
      n -= 16;
    }
  };

  const unsigned last_lit = ts.last_lit;
  unsigned dx = 0;
  unsigned flag = 0;
  for (unsigned lx = 0; lx < last_lit; lx++) {
    if ((lx & 7) == 0) flag = ts.kind_flags[lx >> 3];
    const unsigned lc = ts.lit_buf[lx];
    if ((flag & 1) == 0) {
      put_code(ltree[lc]);
    } else {
      unsigned code = ts.len_to_code[lc];
      put_code(ltree[code + kLiterals + 1]);
      int extra = extra_lbits[code];
      if (extra != 0) put(lc - static_cast<unsigned>(ts.len_base[code]), static_cast<unsigned>(extra));
      const unsigned dist = ts.dist_buf[dx++];
      code = dist_code(ts, dist);
      Assert(s, code < kDistCodes, "bad d_code");
      put_code(dtree[code]);
      extra = extra_dbits[code];
      if (extra != 0) put(dist - static_cast<unsigned>(ts.dist_base[code]), static_cast<unsigned>(extra));
    }
    flag >>= 1;
    drain();
  }
  put_code(ltree[kEndBlock]);
  drain();
  b.bit_acc = static_cast<uint32_t>(acc);
  b.bit_count = static_cast<int>(n);
  b.bits_total += total;
  Assert(s, bad_length == 0, "invalid length");
}

void set_file_type(DeflateState& s) {
  const ct_data* tree = s.ts.lit_tree;
  unsigned text = 0, binary = 0;
  int n = 0;
  while (n < 7) binary += freq(tree[n++]);
  while (n < 128) text += freq(tree[n++]);
  while (n < kLiterals) binary += freq(tree[n++]);
  *s.ts.text_attr = binary > (text >> 2) ? 0 : 1;
}

unsigned long flush_block(DeflateState& s, char* buf, unsigned long stored_len, int last) {
  TTreeState& ts = s.ts;
  ts.kind_flags[ts.kind_flags_used] = ts.pending_flags;  // the partial flag byte
  if (ts.text_attr && *ts.text_attr == 0xFFFF) set_file_type(s);

  build_tree(s, &ts.lit_desc);
  build_tree(s, &ts.dist_desc);
  int max_bl = build_bl_tree(s);

  uint32_t dyn = (ts.dyn_bits + 3 + 7) >> 3;
  uint32_t fixed = (ts.fixed_bits + 3 + 7) >> 3;
  if (fixed <= dyn) dyn = fixed;

  // A stored block needs its input still in the window, and its length must
  // fit the block's 16-bit length field.
  if (buf != nullptr && stored_len <= 0xFFFF && stored_len + 4 <= dyn) {
    send_bits(s, static_cast<unsigned>(last), 3);
    ts.out_bytes += ((ts.out_extra_bits + 3 + 7) >> 3) + static_cast<uint32_t>(stored_len) + 4;
    ts.out_extra_bits = 0;
    copy_block(s, buf, static_cast<unsigned>(stored_len), 1);
  } else {
    if (fixed == dyn) {
      send_bits(s, 2 + static_cast<unsigned>(last), 3);
      compress_block(s, ts.static_lit_tree, ts.static_dist_tree);
      ts.out_extra_bits += 3 + ts.fixed_bits;
    } else {
      send_bits(s, 4 + static_cast<unsigned>(last), 3);
      send_all_trees(s, ts.lit_desc.max_code + 1, ts.dist_desc.max_code + 1, max_bl + 1);
      compress_block(s, ts.lit_tree, ts.dist_tree);
      ts.out_extra_bits += 3 + ts.dyn_bits;
    }
    ts.out_bytes += ts.out_extra_bits >> 3;
    ts.out_extra_bits &= 7;
  }
  Assert(s, ts.out_bytes * 8 + ts.out_extra_bits == s.bs.bits_total, "bad compressed size");
  init_block(s);

  if (last) {
    bi_windup(s);
    ts.out_extra_bits += 7;
  }
  return ts.out_bytes + (ts.out_extra_bits >> 3);
}

}  // namespace quillon
