// The matcher of the DEFLATE compressor: the sliding window, the hash
// chains, and the fast (levels 1-3) and lazy (levels 4-8) match searches
// that turn the input into literals and matches for the block coder.
#include <cstring>

#include "zip/zip/deflate_internal.h"

namespace quillon {

namespace {

constexpr unsigned kWindowMask = kHalfWindow - 1;
constexpr uint32_t kEnded = 0xFFFFFFFFu;

inline uint16_t load16(const uint8_t* p) {
  uint16_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Comparison word: eight bytes on 64-bit machines, four on 32-bit ones.
using word_t = std::size_t;

inline word_t load_word(const uint8_t* p) {
  word_t v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

// Index of the first differing byte of two words that differ.
inline unsigned first_difference(word_t x) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
  return (sizeof(word_t) == 8 ? __builtin_clzll(x) : __builtin_clz(static_cast<unsigned>(x))) >> 3;
#else
  return (sizeof(word_t) == 8 ? __builtin_ctzll(x) : __builtin_ctz(static_cast<unsigned>(x))) >> 3;
#endif
}

inline unsigned update_hash(unsigned h, unsigned c) { return ((h << kHashShift) ^ c) & kHashMask; }

// Inserts the string at window position p (its third byte is fed to the
// running hash) and gives the previous head of its chain.
inline unsigned insert_string(TDeflateState& d, unsigned p) {
  d.hash_value = update_hash(d.hash_value, d.window[p + 2]);
  unsigned head = d.hash_head[d.hash_value];
  d.hash_chain[p & kWindowMask] = head;
  d.hash_head[d.hash_value] = p;
  return head;
}

unsigned long flush_current(TState& s, int last) {
  TDeflateState& d = s.ds;
  char* start = d.block_origin >= 0 ? reinterpret_cast<char*>(d.window) + d.block_origin : nullptr;
  return flush_block(s, start, static_cast<unsigned long>(static_cast<int64_t>(d.cursor) - d.block_origin), last);
}

}  // namespace

const config configuration_table[10] = {
    {0, 0, 0, 0},          // 0: not used
    {4, 4, 8, 4},          // 1: fast matcher
    {4, 5, 16, 8},         // 2
    {4, 6, 32, 32},        // 3
    {4, 4, 16, 16},        // 4: lazy matcher
    {8, 16, 32, 32},       // 5
    {8, 16, 128, 128},     // 6
    {8, 32, 128, 256},     // 7
    {32, 128, 258, 1024},  // 8: the archive writer's level
    {32, 258, 258, 4096},  // 9: not accepted
};

void lm_init(TState& s, int level, uint16_t* flags) {
  TDeflateState& d = s.ds;
  Assert(s, level >= 1 && level <= 8, "bad pack level");
  const config& row = configuration_table[level < 1 ? 1 : level > 9 ? 9 : level];

  if (d.window_bytes == 0) {
    d.slides = 1;
    d.window_bytes = kWindowSize;
  } else {
    d.slides = 0;
    if (d.window_bytes > kWindowSize) d.window_bytes = kWindowSize;
  }
  std::memset(d.hash_head, 0, sizeof d.hash_head);

  d.good_enough = row.good_length;
  d.lazy_limit = row.max_lazy;
  d.stop_length = row.nice_length;
  d.max_chain = row.max_chain;
  if (flags) {
    if (level <= 2) *flags |= 0x0004;
    if (level >= 8) *flags |= 0x0002;
  }

  d.cursor = 0;
  d.block_origin = 0;
  d.match_pos = 0;
  d.prev_match_len = 2;
  d.hash_value = 0;

  unsigned n = s.read_input ? s.read_input(s, reinterpret_cast<char*>(d.window), d.window_bytes) : 0;
  if (n == 0 || n == kEnded) {
    d.input_ended = 1;
    d.lookahead = 0;
    return;
  }
  d.input_ended = 0;
  d.lookahead = n < d.window_bytes ? n : d.window_bytes;
  if (d.lookahead < kMinLookahead) fill_window(s);

  d.hash_value = update_hash(update_hash(0, d.window[0]), d.window[1]);
}

// Reads input until the lookahead holds a whole match and its successor's
// hash bytes, or the input ends; slides the window first when the current
// position has reached its upper half's far end.
void fill_window(TState& s) {
  TDeflateState& d = s.ds;
  while (d.lookahead < kMinLookahead && !d.input_ended) {
    unsigned free = d.window_bytes - d.lookahead - d.cursor;
    if (d.slides && d.cursor >= kHalfWindow + kMaxDist) {
      std::memcpy(d.window, d.window + kHalfWindow, kHalfWindow);
      d.match_pos -= kHalfWindow;
      d.cursor -= kHalfWindow;
      d.block_origin -= static_cast<int32_t>(kHalfWindow);
      for (unsigned n = 0; n < kHashSize; n++) {
        uint32_t v = d.hash_head[n];
        d.hash_head[n] = v >= kHalfWindow ? v - kHalfWindow : 0;
      }
      for (unsigned n = 0; n < kHalfWindow; n++) {
        uint32_t v = d.hash_chain[n];
        d.hash_chain[n] = v >= kHalfWindow ? v - kHalfWindow : 0;
      }
      free += kHalfWindow;
    }
    Assert(s, free >= 2, "more < 2");
    unsigned n = s.read_input ? s.read_input(s, reinterpret_cast<char*>(d.window) + d.cursor + d.lookahead, free) : 0;
    if (n == 0 || n == kEnded) {
      d.input_ended = 1;
    } else {
      d.lookahead += n < free ? n : free;
    }
  }
}

// Walks the chain from cand and returns the longest match length found
// (never less than prev_match_len), setting match_pos when it improves.
unsigned longest_match(TState& s, unsigned cand) {
  TDeflateState& d = s.ds;
  const uint8_t* const window = d.window;
  const unsigned cursor = d.cursor;
  const uint8_t* const scan = window + cursor;
  unsigned chain = d.max_chain;
  unsigned best = d.prev_match_len;
  const unsigned nice = d.stop_length;
  const unsigned limit = cursor > kMaxDist ? cursor - kMaxDist : 0;

  if (best >= d.good_enough) chain >>= 2;
  // While input remains, a whole match and more lies ahead; at the very
  // end of the input the comparison may run into the slack after the data,
  // whose bytes never make a match longer than the lookahead it is cut to.
  Assert(s, d.input_ended || cursor <= d.window_bytes - kMinLookahead, "insufficient lookahead");

  const uint16_t scan_start = load16(scan);
  uint16_t scan_end = load16(scan + best - 1);
  do {
    Assert(s, cand < cursor, "no future");
    const uint8_t* match = window + cand;
    if (load16(match + best - 1) != scan_end || load16(match) != scan_start) continue;

    // The first two bytes are equal, and with them the hash: so is the third.
    unsigned len = 3;
    for (;;) {
      word_t x = load_word(scan + len) ^ load_word(match + len);
      if (x != 0) {
        len += first_difference(x);
        break;
      }
      len += sizeof(word_t);
      if (len >= kMaxMatch) break;
    }
    Assert(s, cursor + len <= sizeof d.window, "wild scan");
    if (len > kMaxMatch) len = kMaxMatch;
    if (len > best) {
      d.match_pos = cand;
      best = len;
      if (len >= nice) break;
      scan_end = load16(scan + best - 1);
    }
  } while ((cand = d.hash_chain[cand & kWindowMask]) > limit && --chain != 0);
  return best;
}

namespace {

unsigned long deflate_fast(TState& s) {
  TDeflateState& d = s.ds;
  d.prev_match_len = kMinMatch - 1;
  unsigned m = 0;
  while (d.lookahead > 0) {
    unsigned cand = 0;
    if (d.lookahead >= kMinMatch) cand = insert_string(d, d.cursor);
    if (cand != 0 && d.cursor - cand <= kMaxDist) {
      if (d.stop_length > d.lookahead) d.stop_length = d.lookahead;
      m = longest_match(s, cand);
      if (m > d.lookahead) m = d.lookahead;
    }
    bool flush;
    if (m >= kMinMatch) {
      flush = ct_tally(s, static_cast<int>(d.cursor - d.match_pos), static_cast<int>(m - kMinMatch));
      d.lookahead -= m;
      if (m <= d.lazy_limit && d.lookahead >= kMinMatch) {
        m--;
        do {
          d.cursor++;
          insert_string(d, d.cursor);
        } while (--m != 0);
        d.cursor++;
      } else {
        d.cursor += m;
        d.hash_value = update_hash(d.window[d.cursor], d.window[d.cursor + 1]);
      }
      m = 0;
    } else {
      flush = ct_tally(s, 0, d.window[d.cursor]);
      d.lookahead--;
      d.cursor++;
    }
    if (flush) {
      flush_current(s, 0);
      d.block_origin = static_cast<int32_t>(d.cursor);
    }
    if (d.lookahead < kMinLookahead) fill_window(s);
  }
  return flush_current(s, 1);
}

}  // namespace

unsigned long deflate(TState& s) {
  if (s.level <= 3) return deflate_fast(s);
  TDeflateState& d = s.ds;
  unsigned m = kMinMatch - 1;
  bool literal_pending = false;
  while (d.lookahead > 0) {
    unsigned cand = 0;
    if (d.lookahead >= kMinMatch) cand = insert_string(d, d.cursor);
    d.prev_match_len = m;
    unsigned prev_pos = d.match_pos;
    m = kMinMatch - 1;

    if (cand != 0 && d.prev_match_len < d.lazy_limit && d.cursor - cand <= kMaxDist) {
      if (d.stop_length > d.lookahead) d.stop_length = d.lookahead;
      m = longest_match(s, cand);
      if (m > d.lookahead) m = d.lookahead;
      // A three-byte match far away costs more than its literals.
      if (m == kMinMatch && d.cursor - d.match_pos > kTooFar) m = kMinMatch - 1;
    }

    if (d.prev_match_len >= kMinMatch && m <= d.prev_match_len) {
      // The match at the previous position is at least as long: take it.
      unsigned max_insert = d.cursor + d.lookahead - kMinMatch;
      bool flush = ct_tally(s, static_cast<int>(d.cursor - 1 - prev_pos),
                            static_cast<int>(d.prev_match_len - kMinMatch));
      d.lookahead -= d.prev_match_len - 1;
      unsigned n = d.prev_match_len - 2;
      do {
        if (++d.cursor <= max_insert) insert_string(d, d.cursor);
      } while (--n != 0);
      d.cursor++;
      literal_pending = false;
      m = kMinMatch - 1;
      if (flush) {
        flush_current(s, 0);
        d.block_origin = static_cast<int32_t>(d.cursor);
      }
    } else if (literal_pending) {
      // No better match here: the previous byte goes out as a literal.
      if (ct_tally(s, 0, d.window[d.cursor - 1])) {
        flush_current(s, 0);
        d.block_origin = static_cast<int32_t>(d.cursor);
      }
      d.cursor++;
      d.lookahead--;
    } else {
      literal_pending = true;
      d.cursor++;
      d.lookahead--;
    }
    if (d.lookahead < kMinLookahead) fill_window(s);
  }
  if (literal_pending) ct_tally(s, 0, d.window[d.cursor - 1]);
  return flush_current(s, 1);
}

}  // namespace quillon
