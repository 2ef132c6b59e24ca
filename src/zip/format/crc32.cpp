// CRC-32 of ZIP entries.
//
// What: the cyclic redundancy check that every ZIP record carries for its
// entry's data (APPNOTE 4.4.7): the remainder of the message, taken as a
// polynomial over GF(2), modulo the degree-32 generator 0x04C11DB7. ZIP uses
// the reflected form, where the lowest bit of each byte is the highest power
// of x, so the generator reads 0xEDB88320 and the register shifts right. The
// register starts as all ones and is inverted at the end; crc_update keeps
// the inversions at its edges, so calls chain on the finished value.
//
// Why two ways: a CRC is computed over every byte the library reads or
// writes in an archive, so it must keep pace with inflate and deflate. The
// classic one-table loop retires a byte per dependent lookup, which is slow
// next to them. This file holds the portable path, which every processor
// runs; crc32_clmul.cpp holds the faster path for processors that multiply
// carry-less, chosen once at run time.
//
// How the portable path is fast: slicing-by-8. Because the CRC is linear, the
// contribution of eight message bytes to the register is the exclusive or of
// eight separate contributions, one per byte, each depending only on that
// byte's value and on how many bytes follow it within the group. Table k
// holds the contribution of a byte followed by k zero bytes, so one pass of
// the loop loads eight bytes, folds the register into the first four, and
// makes eight independent lookups that the processor can run side by side,
// instead of eight lookups each waiting on the one before. The tables are
// computed at compile time from the bit-serial definition, so they cannot
// drift from it; the last few bytes of a buffer go through table 0, one at
// a time, which is the textbook algorithm.
//
// How it is kept correct: crc_table (the bytewise table) is also what the
// traditional ZIP cipher feeds its keys through, so both consumers see the
// same numbers; tests check every path against zlib's crc32 at every length
// and alignment around the block sizes.
#include "zip/format/crc32.h"

#include <array>

#include "zip/format/crc32_paths.h"

namespace quillon {
namespace {

using Table = std::array<uint32_t, 256>;

// Eight tables: table k gives the CRC contribution of a byte followed by k
// zero bytes, so eight bytes fold in with eight independent lookups.
constexpr std::array<Table, 8> make_tables() {
  std::array<Table, 8> t{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[0][n] = c;
  }
  for (uint32_t n = 0; n < 256; ++n)
    for (int k = 1; k < 8; ++k) t[k][n] = t[0][t[k - 1][n] & 0xFF] ^ (t[k - 1][n] >> 8);
  return t;
}

constexpr std::array<Table, 8> kTables = make_tables();

inline uint32_t load_le32(const unsigned char* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

uint32_t crc_update(uint32_t crc, const unsigned char* p, size_t n) {
  if (p == nullptr) return 0;
  static const bool fast = crc_paths::has_clmul();
  if (fast) return ~crc_paths::clmul_raw(~crc, p, n);
  return ~crc_paths::raw_update(~crc, p, n);
}

}  // namespace

const uint32_t crc_table[256] = {
#define Q_ROW(i) kTables[0][i], kTables[0][i + 1], kTables[0][i + 2], kTables[0][i + 3]
#define Q_ROW16(i) Q_ROW(i), Q_ROW(i + 4), Q_ROW(i + 8), Q_ROW(i + 12)
    Q_ROW16(0),   Q_ROW16(16),  Q_ROW16(32),  Q_ROW16(48),  Q_ROW16(64),  Q_ROW16(80),
    Q_ROW16(96),  Q_ROW16(112), Q_ROW16(128), Q_ROW16(144), Q_ROW16(160), Q_ROW16(176),
    Q_ROW16(192), Q_ROW16(208), Q_ROW16(224), Q_ROW16(240),
#undef Q_ROW16
#undef Q_ROW
};

uint32_t crc32(uint32_t crc, const unsigned char* bytes, size_t count) { return crc_update(crc, bytes, count); }

namespace crc_paths {

// The table path without the inversions: folds bytes into a raw state.
uint32_t raw_update(uint32_t crc, const unsigned char* p, size_t n) {
  while (n >= 8) {
    const uint32_t one = load_le32(p) ^ crc;
    const uint32_t two = load_le32(p + 4);
    crc = kTables[7][one & 0xFF] ^ kTables[6][(one >> 8) & 0xFF] ^ kTables[5][(one >> 16) & 0xFF] ^
          kTables[4][one >> 24] ^ kTables[3][two & 0xFF] ^ kTables[2][(two >> 8) & 0xFF] ^
          kTables[1][(two >> 16) & 0xFF] ^ kTables[0][two >> 24];
    p += 8;
    n -= 8;
  }
  while (n--) crc = kTables[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
  return crc;
}

uint32_t portable(uint32_t crc, const unsigned char* bytes, size_t count) {
  return bytes == nullptr ? 0 : ~raw_update(~crc, bytes, count);
}

uint32_t clmul(uint32_t crc, const unsigned char* bytes, size_t count) {
  return bytes == nullptr ? 0 : ~clmul_raw(~crc, bytes, count);
}

}  // namespace crc_paths

}  // namespace quillon
