// The DEFLATE compressor: raw RFC 1951 streams (no zlib or gzip wrapper)
// from bytes pulled through a read callback, written through a flush
// callback from a caller's output buffer.
//
// All working memory is one DeflateState record (about 300 KB) that the caller
// allocates once, on the heap, and reuses for every item it compresses; the
// compressor allocates nothing, touches no file and keeps no other state.
// Distinct records are independent; one record serves one run at a time.
//
// Compressing one item
// --------------------
// Once: construct the record (new DeflateState; the constructor clears it and
// fills the tree descriptors). Nothing else is needed between items.
//
// For every item, fill a DeflateItem and call
//   start_item(state, item);
//     item.context        handed back to flush_output (the writer: itself)
//     item.read_input     the input callback (below)
//     item.flush_output   the output callback (below)
//     item.level          1..8 (the writer: 8); start_item ORs 0x0004
//                         (levels 1-2) or 0x0002 (level 8) into *item.flags,
//                         the item's 16-bit general-purpose flags
//     item.out_buf, item.out_size
//                         the caller's output buffer, at least 2 bytes (the
//                         writer: 16,384 bytes)
//     item.flush_when_full  1 (the writer) or 0, see below
//     item.window_bytes   0: a sliding 64 KiB window (see the end)
//     item.attr           a 16-bit word; 0xFFFF asks for text detection (1
//                         text, 0 binary is stored in it at each block); any
//                         other value is left alone (the writer passes 0)
// start_item sets the record's caller part, clears failed_check and starts
// the bit writer, the block coder (whose tables it has rebuilt, so the item
// starts with an empty block) and the matcher: bi_init, ct_init and lm_init
// below, in that order. Then
//   unsigned long csize = deflate(state);
// compresses until read_input reports the end and returns every compressed
// byte counted, the last partial byte included. Finally test
// state.failed_check: non-null means the item failed. Its text names the
// last internal check that did not hold, or one of "output refused by the
// sink" and "output buffer too small"; with "bad pack level" (a level
// outside 1..8) the stream is still valid.
//
// With flush_when_full = 1 (the writer's choice) every compressed byte has
// gone through flush_output when deflate returns; stored blocks go to it
// straight from the window. With flush_when_full = 0 the stream stays in
// out_buf (state.bs.out_used bytes of it) as far as it fits, flush_output is
// still called whenever the buffer fills, and a stored block that does not
// fit fails the run ("output buffer too small for in-memory compression").
//
// Callbacks
// ---------
//   read_input(state, buf, size): place up to size bytes of input in buf and
//     return their count; 0 or kInputEnded ends the input (not an error).
//     Short counts are fine; the input ends only at 0 or kInputEnded.
//   flush_output(context, buf, size): write the *size bytes of buf to the
//     sink, return the count written and set *size to 0 when anything was
//     written; with *size already 0, do nothing and return 0. Anything but a
//     complete write is taken as a failed sink: the run sets failed_check to
//     "output refused by the sink", drops all further output (never writing
//     past out_buf) and does not call the sink again.
//
// window_bytes other than 0 selects a fixed window of that many bytes (at
// most 65,536) that never slides: the whole input must fit in it, or the run
// fails ("more < 2").
#pragma once

#include <cstdint>

namespace quillon {

struct DeflateState;

using ReadInputFunc = unsigned (*)(DeflateState& state, char* buf, unsigned size);
// What read_input may return, besides 0, to say that the input has ended.
constexpr unsigned kInputEnded = 0xFFFFFFFFu;
using FlushOutputFunc = unsigned (*)(void* context, const char* buf, unsigned* size);

// Sizes of the format and of the record's buffers.
constexpr int kLengthCodes = 29;     // match length codes 257..285
constexpr int kLiterals = 256;
constexpr int kLitCodes = kLiterals + 1 + kLengthCodes;  // 286
constexpr int kDistCodes = 30;
constexpr int kBlCodes = 19;         // code-length alphabet
constexpr int kMaxBits = 15;         // longest code
constexpr int kMaxBlBits = 7;        // longest code of the code-length alphabet
constexpr int kHeapSize = 2 * kLitCodes + 1;  // 573
constexpr unsigned kLitBufSize = 32768;
constexpr unsigned kDistBufSize = 32768;

constexpr unsigned kMinMatch = 3;
constexpr unsigned kMaxMatch = 258;
constexpr unsigned kHalfWindow = 32768;
constexpr unsigned kWindowSize = 2 * kHalfWindow;
constexpr unsigned kMinLookahead = kMaxMatch + kMinMatch + 1;  // 262
constexpr unsigned kMaxDist = kHalfWindow - kMinLookahead;     // 32506
constexpr unsigned kTooFar = 4096;
constexpr unsigned kHashBits = 15;
constexpr unsigned kHashSize = 1u << kHashBits;
constexpr unsigned kHashMask = kHashSize - 1;
constexpr unsigned kHashShift = 5;
// Bytes after the window that a match comparison near the end of the data
// may read; never written, so they stay zero.
constexpr unsigned kWindowSlack = kMaxMatch + 8;

// One tree node: while a tree is built, a frequency and a parent; afterwards
// the (bit-reversed) code and its length.
struct ct_data {
  uint16_t freq_or_code;
  uint16_t parent_or_len;
};

struct tree_desc {
  ct_data* tree;          // the dynamic tree
  const ct_data* fixed;   // its fixed twin, or null (code-length tree)
  const int* extra;       // extra bits per code
  int extra_first;        // first symbol with extra bits
  int symbols;
  int length_cap;         // longest code allowed
  int max_code;           // largest symbol with a nonzero frequency
};

struct TTreeState {
  ct_data lit_tree[kHeapSize];
  ct_data dist_tree[2 * kDistCodes + 1];
  ct_data static_lit_tree[kLitCodes + 2];
  ct_data static_dist_tree[kDistCodes];
  ct_data bl_tree[2 * kBlCodes + 1];
  tree_desc lit_desc, dist_desc, bl_desc;
  uint16_t codes_per_len[kMaxBits + 1];
  int heap[kHeapSize];
  int heap_size, heap_top;
  uint8_t node_depth[kHeapSize];
  uint8_t len_to_code[256];   // match length - 3 -> length code 0..28
  uint8_t dist_to_code[512];  // distance - 1 -> code, see dist_code()
  int len_base[kLengthCodes];
  int dist_base[kDistCodes];
  uint8_t lit_buf[kLitBufSize];    // literal byte, or match length - 3
  uint16_t dist_buf[kDistBufSize]; // match distance - 1
  uint8_t kind_flags[kLitBufSize / 8];  // bit set = that symbol is a match
  unsigned last_lit, last_dist, kind_flags_used;
  uint8_t pending_flags, pending_bit;
  uint32_t dyn_bits, fixed_bits;        // block size estimates in bits
  uint32_t out_bytes, out_extra_bits;   // stream length so far
  uint16_t* text_attr;
};

struct TBitState {
  int flush_when_full;
  uint32_t bit_acc;
  int bit_count;
  char* out_block;
  unsigned out_used;
  unsigned out_capacity;
  uint32_t bits_total;
  bool sink_failed;   // the sink refused output; everything after is dropped
};

// A window position in the hash tables. Positions never reach 65,536, so
// 16 bits hold them; half-size tables keep far more of the chain walk in the
// processor's nearest cache, which is most of the compressor's speed.
using hash_pos_t = uint16_t;

struct TDeflateState {
  uint8_t window[kWindowSize + kWindowSlack];
  hash_pos_t hash_chain[kHalfWindow];  // previous position with the same hash
  hash_pos_t hash_head[kHashSize];     // latest position per hash; 0 = none
  unsigned window_bytes;
  int32_t block_origin;
  int slides;
  unsigned hash_value;
  unsigned prev_match_len;
  unsigned cursor;
  unsigned match_pos;
  int input_ended;
  unsigned lookahead;
  unsigned max_chain, lazy_limit, good_enough, stop_length;
};

struct DeflateState {
  DeflateState();
  DeflateState(const DeflateState&) = delete;
  DeflateState& operator=(const DeflateState&) = delete;

  // Caller part.
  void* context;
  int level;
  ReadInputFunc read_input;
  FlushOutputFunc flush_output;

  TTreeState ts;
  TBitState bs;
  TDeflateState ds;

  // The message of the last internal check that failed, or null.
  const char* failed_check;
};

// Attaches the output buffer (out_size of at least 2 bytes).
void bi_init(DeflateState& state, char* out_buf, unsigned out_size, int flush_when_full);
// Starts the block coder; attr is the word that text detection may set.
void ct_init(DeflateState& state, uint16_t* attr);
// Starts the matcher at a level 1..8 and marks the general-purpose flags.
void lm_init(DeflateState& state, int level, uint16_t* flags);
// Compresses the whole input; returns the compressed byte count.
unsigned long deflate(DeflateState& state);

// What start_item needs for one item (see the top of this file).
struct DeflateItem {
  void* context = nullptr;
  ReadInputFunc read_input = nullptr;
  FlushOutputFunc flush_output = nullptr;
  int level = 8;
  char* out_buf = nullptr;
  unsigned out_size = 0;
  int flush_when_full = 1;
  unsigned window_bytes = 0;
  uint16_t* attr = nullptr;
  uint16_t* flags = nullptr;
};

// Readies a record, used before or not, for one item; deflate follows.
inline void start_item(DeflateState& state, const DeflateItem& item) {
  state.context = item.context;
  state.level = item.level;
  state.read_input = item.read_input;
  state.flush_output = item.flush_output;
  state.failed_check = nullptr;
  // A zero length in the fixed distance tree makes ct_init rebuild its
  // tables and start the item with an empty block.
  state.ts.static_dist_tree[0].parent_or_len = 0;
  state.ds.window_bytes = item.window_bytes;
  bi_init(state, item.out_buf, item.out_size, item.flush_when_full);
  ct_init(state, item.attr);
  lm_init(state, item.level, item.flags);
}

}  // namespace quillon
