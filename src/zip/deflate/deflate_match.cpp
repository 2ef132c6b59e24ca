// The matcher of the DEFLATE compressor.
//
// What: the half of the compressor that finds repetitions. It reads the
// item's bytes into a sliding window and turns them into a sequence of
// literals (one byte) and matches (a length of 3 to 258 bytes and a distance
// of 1 to 32,506 bytes back), which it hands one by one to the block coder
// (deflate_tree.cpp, through ct_tally); the coder decides when a block ends
// and how it is coded. The output must be valid RFC 1951; how short it is
// depends on how well the matcher searches.
//
// The window: 64 KiB, read in by fill_window, of which the upper half is new
// input and the lower half the history that matches may point into. When the
// position reaches the far end of the upper half, the upper half is copied
// down, every stored position drops by 32 KiB, and positions that fall out of
// reach become 0, which means "no candidate". The lookahead is kept at 262
// bytes or more (a longest match plus the next string's hash bytes) while
// input remains, so a search never reads bytes that have not arrived; past
// the end of the data the zero bytes of slack after the window let the
// comparison run on without a bounds test, and matches are cut to the
// lookahead afterwards.
//
// Finding candidates: every position is inserted into a hash table keyed by
// its next three bytes (15 bits, built incrementally by shifting five bits
// per byte, so three bytes fill the hash). hash_head holds the latest
// position for each key and hash_chain links each position to the previous
// one with the same key, so a chain walk visits earlier occurrences of the
// same three bytes (and a few hash collisions), nearest first.
//
// Searching: longest_match walks the chain for at most max_chain candidates
// (a quarter of that once a match of good_length is in hand) and stops early
// at nice_length. It tests a candidate's two bytes at the current best length
// first, since only a candidate that matches there can do better, and only
// then its first two; the rest is compared a machine word at a time, with
// the first differing byte found by counting trailing zero bits of the
// exclusive or. The walk keeps its state in registers, and the matchers keep
// their hot fields in locals (struct Hot) that are written back before the
// block coder or fill_window looks at them.
//
// Two parsing strategies, chosen by level from configuration_table:
// - levels 1-3 (deflate_fast): greedy. A match found is taken at once; its
//   positions are inserted into the table only when it is short (max_lazy
//   is the insertion limit here), which saves time on long runs.
// - levels 4-8 (deflate): lazy evaluation. A match found at one position is
//   held back while the next position is searched; if that finds a longer
//   match, the held byte goes out as a literal and the longer match is held
//   instead. Only matches shorter than max_lazy are second-guessed this way.
//   A three-byte match more than 4 KiB back is dropped, as its codes would
//   cost more than three literals. The chain head of the next position is
//   prefetched while the current one is searched.
// The archive writer uses level 8: lazy, long chains, long nice length.
//
// Correctness is checked by round trips through zlib's inflate in the tests
// and the fuzzers, and by Assert checks that record the first broken
// invariant in the state instead of crashing.
#include <cstring>

#include "zip/deflate/deflate_internal.h"

namespace quillon {

namespace {

constexpr unsigned kWindowMask = kHalfWindow - 1;

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

unsigned long flush_current(DeflateState& s, int last) {
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

void lm_init(DeflateState& s, int level, uint16_t* flags) {
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
  if (n == 0 || n == kInputEnded) {
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
void fill_window(DeflateState& s) {
  TDeflateState& d = s.ds;
  while (d.lookahead < kMinLookahead && !d.input_ended) {
    unsigned free = d.window_bytes - d.lookahead - d.cursor;
    if (d.slides && d.cursor >= kHalfWindow + kMaxDist) {
      std::memcpy(d.window, d.window + kHalfWindow, kHalfWindow);
      d.match_pos -= kHalfWindow;
      d.cursor -= kHalfWindow;
      d.block_origin -= static_cast<int32_t>(kHalfWindow);
      for (unsigned n = 0; n < kHashSize; n++) {
        unsigned v = d.hash_head[n];
        d.hash_head[n] = static_cast<hash_pos_t>(v >= kHalfWindow ? v - kHalfWindow : 0);
      }
      for (unsigned n = 0; n < kHalfWindow; n++) {
        unsigned v = d.hash_chain[n];
        d.hash_chain[n] = static_cast<hash_pos_t>(v >= kHalfWindow ? v - kHalfWindow : 0);
      }
      free += kHalfWindow;
    }
    Assert(s, free >= 2, "more < 2");
    if (free == 0) {  // a fixed window that is full: no room for the rest
      d.input_ended = 1;
      break;
    }
    unsigned n = s.read_input ? s.read_input(s, reinterpret_cast<char*>(d.window) + d.cursor + d.lookahead, free) : 0;
    if (n == 0 || n == kInputEnded) {
      d.input_ended = 1;
    } else {
      d.lookahead += n < free ? n : free;
    }
  }
}

namespace {

// The chain walk of longest_match with the state it needs held in
// registers. Returns the best length found (never less than best) and sets
// match_pos when it improves.
inline __attribute__((always_inline)) unsigned search(DeflateState& s, const uint8_t* window, const hash_pos_t* chain_tab,
                                                      unsigned cursor, unsigned cand, unsigned best, unsigned chain,
                                                      unsigned good, unsigned nice, unsigned& match_pos) {
  const uint8_t* const scan = window + cursor;
  const unsigned limit = cursor > kMaxDist ? cursor - kMaxDist : 0;
  if (best >= good) chain >>= 2;
  // Positions fall along a chain, so the first candidate is the latest.
  Assert(s, cand < cursor, "no future");

  // A candidate can only do better if it matches every byte up to and
  // including offset best: test the first two and the last two first.
  const uint16_t scan_start = load16(scan);
  uint16_t scan_end = load16(scan + best - 1);
  const uint8_t* end_base = window + best - 1;
  do {
    if (load16(end_base + cand) == scan_end && load16(window + cand) == scan_start) {
      // The first two bytes are equal, and with them the hash: so is the third.
      const uint8_t* match = window + cand;
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
      Assert(s, cursor + len <= sizeof s.ds.window, "wild scan");
      if (len > kMaxMatch) len = kMaxMatch;
      if (len > best) {
        match_pos = cand;
        best = len;
        if (len >= nice) break;
        scan_end = load16(scan + best - 1);
        end_base = window + best - 1;
      }
    }
  } while ((cand = chain_tab[cand & kWindowMask]) > limit && --chain != 0);
  return best;
}

inline void check_lookahead(DeflateState& s, unsigned cursor) {
  // While input remains, a whole match and more lies ahead; at the very end
  // of the input the comparison may run into the slack after the data, whose
  // bytes never make a match longer than the lookahead it is cut to.
  const TDeflateState& d = s.ds;
  Assert(s, d.input_ended || cursor <= d.window_bytes - kMinLookahead, "insufficient lookahead");
}

}  // namespace

// Walks the chain from cand and returns the longest match length found
// (never less than prev_match_len), setting match_pos when it improves.
unsigned longest_match(DeflateState& s, unsigned cand) {
  TDeflateState& d = s.ds;
  check_lookahead(s, d.cursor);
  return search(s, d.window, d.hash_chain, d.cursor, cand, d.prev_match_len, d.max_chain, d.good_enough,
                d.stop_length, d.match_pos);
}

// Both matchers keep the hot fields of the state in locals and store them
// back before anything else (the block coder, fill_window) reads them.
namespace {

struct Hot {
  unsigned cursor, lookahead, hash, match_pos, stop;
  explicit Hot(const TDeflateState& d)
      : cursor(d.cursor), lookahead(d.lookahead), hash(d.hash_value), match_pos(d.match_pos), stop(d.stop_length) {}
  void store(TDeflateState& d) const {
    d.cursor = cursor;
    d.lookahead = lookahead;
    d.hash_value = hash;
    d.match_pos = match_pos;
    d.stop_length = stop;
  }
  void load(const TDeflateState& d) {
    cursor = d.cursor;
    lookahead = d.lookahead;
    match_pos = d.match_pos;
  }
};

// Inserts the string at window position p (its third byte is fed to the
// running hash h) and gives the previous head of its chain.
inline unsigned insert(uint8_t* window, hash_pos_t* head, hash_pos_t* chain, unsigned& h, unsigned p) {
  h = update_hash(h, window[p + 2]);
  unsigned old = head[h];
  chain[p & kWindowMask] = static_cast<hash_pos_t>(old);
  head[h] = static_cast<hash_pos_t>(p);
  return old;
}

unsigned long deflate_fast(DeflateState& s) {
  TDeflateState& d = s.ds;
  uint8_t* const window = d.window;
  hash_pos_t* const head = d.hash_head;
  hash_pos_t* const chain = d.hash_chain;
  const unsigned max_insert = d.lazy_limit, good = d.good_enough, max_chain = d.max_chain;
  Hot v(d);
  d.prev_match_len = kMinMatch - 1;
  unsigned m = 0;
  while (v.lookahead > 0) {
    unsigned cand = 0;
    if (v.lookahead >= kMinMatch) cand = insert(window, head, chain, v.hash, v.cursor);
    if (cand != 0 && v.cursor - cand <= kMaxDist) {
      if (v.stop > v.lookahead) v.stop = v.lookahead;
      check_lookahead(s, v.cursor);
      m = search(s, window, chain, v.cursor, cand, kMinMatch - 1, max_chain, good, v.stop, v.match_pos);
      if (m > v.lookahead) m = v.lookahead;
    }
    d.cursor = v.cursor;  // read by ct_tally
    bool flush;
    if (m >= kMinMatch) {
      flush = ct_tally(s, static_cast<int>(v.cursor - v.match_pos), static_cast<int>(m - kMinMatch));
      v.lookahead -= m;
      if (m <= max_insert && v.lookahead >= kMinMatch) {
        m--;
        do {
          v.cursor++;
          insert(window, head, chain, v.hash, v.cursor);
        } while (--m != 0);
        v.cursor++;
      } else {
        v.cursor += m;
        v.hash = update_hash(window[v.cursor], window[v.cursor + 1]);
      }
      m = 0;
    } else {
      flush = ct_tally(s, 0, window[v.cursor]);
      v.lookahead--;
      v.cursor++;
    }
    if (flush) {
      v.store(d);
      flush_current(s, 0);
      d.block_origin = static_cast<int32_t>(v.cursor);
    }
    if (v.lookahead < kMinLookahead) {
      v.store(d);
      fill_window(s);
      v.load(d);
    }
  }
  v.store(d);
  return flush_current(s, 1);
}

}  // namespace

unsigned long deflate(DeflateState& s) {
  if (s.level <= 3) return deflate_fast(s);
  TDeflateState& d = s.ds;
  uint8_t* const window = d.window;
  hash_pos_t* const head = d.hash_head;
  hash_pos_t* const chain = d.hash_chain;
  const unsigned lazy = d.lazy_limit, good = d.good_enough, max_chain = d.max_chain;
  Hot v(d);
  unsigned m = kMinMatch - 1;
  unsigned prev_len = m;
  bool literal_pending = false;
  while (v.lookahead > 0) {
    unsigned cand = 0;
    if (v.lookahead >= kMinMatch) {
      cand = insert(window, head, chain, v.hash, v.cursor);
      // The next position's chain head, fetched while this one is searched.
      __builtin_prefetch(head + update_hash(v.hash, window[v.cursor + 3]));
    }
    prev_len = m;
    const unsigned prev_pos = v.match_pos;
    m = kMinMatch - 1;

    if (cand != 0 && prev_len < lazy && v.cursor - cand <= kMaxDist) {
      if (v.stop > v.lookahead) v.stop = v.lookahead;
      check_lookahead(s, v.cursor);
      m = search(s, window, chain, v.cursor, cand, prev_len, max_chain, good, v.stop, v.match_pos);
      if (m > v.lookahead) m = v.lookahead;
      // A three-byte match far away costs more than its literals.
      if (m == kMinMatch && v.cursor - v.match_pos > kTooFar) m = kMinMatch - 1;
    }

    if (prev_len >= kMinMatch && m <= prev_len) {
      // The match at the previous position is at least as long: take it.
      const unsigned max_insert = v.cursor + v.lookahead - kMinMatch;
      d.cursor = v.cursor;  // read by ct_tally
      bool flush = ct_tally(s, static_cast<int>(v.cursor - 1 - prev_pos), static_cast<int>(prev_len - kMinMatch));
      v.lookahead -= prev_len - 1;
      unsigned n = prev_len - 2;
      do {
        if (++v.cursor <= max_insert) insert(window, head, chain, v.hash, v.cursor);
      } while (--n != 0);
      v.cursor++;
      literal_pending = false;
      m = kMinMatch - 1;
      if (flush) {
        v.store(d);
        flush_current(s, 0);
        d.block_origin = static_cast<int32_t>(v.cursor);
      }
    } else if (literal_pending) {
      // No better match here: the previous byte goes out as a literal.
      d.cursor = v.cursor;
      if (ct_tally(s, 0, window[v.cursor - 1])) {
        v.store(d);
        flush_current(s, 0);
        d.block_origin = static_cast<int32_t>(v.cursor);
      }
      v.cursor++;
      v.lookahead--;
    } else {
      literal_pending = true;
      v.cursor++;
      v.lookahead--;
    }
    if (v.lookahead < kMinLookahead) {
      v.store(d);
      fill_window(s);
      v.load(d);
    }
  }
  d.prev_match_len = prev_len;
  v.store(d);
  if (literal_pending) ct_tally(s, 0, window[v.cursor - 1]);
  return flush_current(s, 1);
}

}  // namespace quillon
